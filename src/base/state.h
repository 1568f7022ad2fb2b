// InstallerState: the one global record of the running installer.
//
// Every subsystem reads and writes the run through this record; nobody else
// defines run-wide state. It sits below every layer and includes none of
// them, so that each may use it. Fields follow the order of the design
// table. Window, font and brush handles are kept as opaque pointers so that
// platform-free code (loader, engine parsers) builds natively as well; Win32
// code casts them back.
//
// The record is zero at program start except dataFile (INVALID_FILE). Text
// buffers are 260-byte heap blocks (package/paths.h allocates them) and hold
// at most 259 characters and the terminator.
#pragma once
#include <stdint.h>

#include "base/filehandle.h"

struct FileEntry;
struct StringTable;

const uint32_t TEXT_CAPACITY = 260;  // bytes of a text buffer
const uint32_t TEXT_MAX = 259;       // characters that fit

struct InstallerState {
    uint32_t browseHookReady;
    char* browseFolder;
    uint32_t browseSelChangeMessage;
    void* progressWindow;
    int32_t progressPercent;
    void* faceBrush;
    void* dialogFont;
    int32_t deltaDataBytesLeft;
    int32_t deltaCommandBytesLeft;
    char* messageSubject;
    char* alternateFolder;
    char* scratchPath;
    char* targetPath;
    char* workPath;
    char* destinationDir;
    uint32_t isRelaunchedCopy;
    int32_t volumeNumber;
    FileEntry* currentEntry;
    int32_t currentEntryIndex;
    uint32_t processedKiB;
    uint32_t installRunning;
    uint32_t totalKiB;
    uint32_t volumeBytesLeft;
    uint32_t volumeDataSize;
    uint32_t volumeDataBase;
    uint32_t dataAreaOffset;
    FileEntry* firstEntry;
    uint32_t entryCount;
    int32_t verifyResult;
    int32_t resultCode;
    uint32_t templateBlobSize;
    uint8_t* templateBlob;
    uint32_t bindingKey;
    StringTable* stringTables[8];
    uint8_t* fileTable;
    char* iniKey;
    char* iniSection;
    char* iniFile;
    char* registryValue;
    char* registrySubKey;
    uint32_t registryRoot;
    uint8_t* titleFont;
    char* titleText;
    uint8_t* backgroundImage;
    uint8_t* frameImage;
    uint32_t options;
    char* sourcePath;
    char* dataPath;
    int32_t screenHeight;
    int32_t screenWidth;
    int32_t screenCenterY;
    int32_t screenCenterX;
    int32_t pageResult;
    int32_t pageIndex;
    void* pageWindow;
    void* frameWindow;
    void* backgroundWindow;
    void* instance;
    uint32_t attributesChanged;
    uint32_t buttonMask;
    FileHandle dataFile;

    // Beyond the table: sizes the loader learnt, so that later readers never
    // look past a buffer the package handed over.
    uint32_t fileTableSize;
    uint32_t stringTableSizes[8];
    // Authenticode certificate table the stub's PE header declares (0 = none).
    uint32_t certificateOffset;
    uint32_t certificateSize;
    // Set by copyText and appendText whenever a text had to be cut to 259
    // characters; the engine clears it before it builds a path and refuses
    // the path when it is set afterwards.
    uint32_t textCut;
    // An all-or-nothing run that has not replaced its files yet: per entry,
    // the last letter of its proven temporary file (0 = none). Null
    // otherwise (engine/install.h).
    uint8_t* stagedLetters;
    // Set by WM_CLOSE outside an installation: the wizard ends and message
    // boxes are no longer shown (they return 0 at once).
    uint32_t closing;

    // The administrators' switches (run/cmdline.h): /Q (no window, no
    // message box: showMessage returns 0 at once), /?, and the texts of
    // /D= and /L= (260-byte blocks made when the switch is met, else null).
    uint32_t quiet;
    uint32_t showSwitches;
    char* destinationSwitch;
    char* logPath;
};

extern InstallerState state;

// Page results; 1 and 2 are IDOK and IDCANCEL, 1007 the frame's Back button.
enum {
    PAGE_RESULT_NEXT = 1,
    PAGE_RESULT_CANCEL = 2,
    PAGE_RESULT_BACK = 1007
};

enum {
    PAGE_WELCOME = 0,
    PAGE_INFO = 1,
    PAGE_DESTINATION = 2,
    PAGE_READY = 3,
    PAGE_PROGRESS = 4,
    PAGE_FINISH = 5,
    PAGE_END = 6,
    PAGE_COUNT = 7
};

const int TEMPLATE_FRAME_WINDOWED = 0;
const int TEMPLATE_FRAME_FULL_SCREEN = 1;
const int TEMPLATE_BROWSE = 7;
const int TEMPLATE_NONE = 8;
const int TEMPLATE_LOCATE = 9;
