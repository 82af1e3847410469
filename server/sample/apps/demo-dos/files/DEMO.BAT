@echo off
echo Demo DOS: level 1
