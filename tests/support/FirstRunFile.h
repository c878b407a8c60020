#pragma once

// The settings file the panel writes on its first run, byte for byte.
inline constexpr char FirstRunFile[] =
    "[General]\r\nLeft=600\r\nTop=260\r\nVmax=4000\r\n\r\n"
    "[Mode]\r\nMicrostep=0\r\nDecay=0\r\n\r\n"
    "[I]\r\nIw=200\r\nIa=300\r\nIh=100\r\nHold=0\r\n\r\n"
    "[N]\r\nNr=0\r\nRelative=0\r\n\r\n"
    "[V]\r\nVm=50\r\nVw=100\r\n\r\n"
    "[A]\r\nAw=100\r\n\r\n"
    "[Adc]\r\nShow=0\r\n\r\n"
    "[Limits]\r\nR=0\r\nL=0\r\nHome=0\r\nHomeDir=1\r\n\r\n"
    "[Control]\r\nMode=32\r\n\r\n";
