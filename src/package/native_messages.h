// What the native stand-in of showMessage saw (tests read it).
#pragma once
struct NativeMessages {
    int count;
    unsigned lastFlags;
    char lastText[260];
};
extern NativeMessages nativeMessages;
extern int nativeMessageAnswer;
