#pragma once

#include <QString>

// A new random GUID as 36 upper-case hexadecimal characters in groups 8-4-4-4-12, without braces.
QString NewGuidText();
