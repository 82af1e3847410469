@echo off
echo Sound setup: Sound Blaster 16, port 220
