#ifndef KX_RES_VERSION_H
#define KX_RES_VERSION_H
// Facts of the version record, shared by the Windows resource script and the Linux build.
// Plain macros and an include guard only: the resource compiler reads this file too.

#define KX_VERSION_MAJOR 1
#define KX_VERSION_MINOR 0
#define KX_VERSION_PATCH 0
#define KX_VERSION_BUILD 0
#define KX_VERSION_COMMA 1, 0, 0, 0
#define KX_VERSION_STRING "1.0.0.0"

#define KX_FILE_DESCRIPTION "KX4701CfgTool"
#define KX_INTERNAL_NAME "KX4701CfgTool"
#define KX_PRODUCT_NAME "KX4701CfgTool"
#define KX_ORIGINAL_FILENAME "KX4701SetCfg.exe"

// Chinese (PRC), code page 936.
#define KX_LANGUAGE_ID 0x0804
#define KX_CODE_PAGE 936

#endif  // KX_RES_VERSION_H
