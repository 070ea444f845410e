/* Control and resource identifiers of the dialog templates the package
 * carries. The stub knows its controls only by these numbers, so they are
 * part of the package format: never renumber one. Plain #defines, so the
 * resource compiler can read this file as well as C++.
 */
#ifndef ZEVRIN_TEMPLATE_CONTROLS_H
#define ZEVRIN_TEMPLATE_CONTROLS_H

/* Template n is the RT_DIALOG resource TEMPLATE_RESOURCE_BASE + n. */
#define TEMPLATE_RESOURCE_BASE   100
#define TEMPLATE_FRAME_WINDOWED  0
#define TEMPLATE_FRAME_FULL      1
#define TEMPLATE_DIRECTORY       2
#define TEMPLATE_INFORMATION     3
#define TEMPLATE_PROGRESS        4
#define TEMPLATE_WELCOME_READY   5
#define TEMPLATE_FINISH          6
#define TEMPLATE_FOLDER_BROWSER  7
#define TEMPLATE_COUNT           8

/* Frame dialog (templates 0 and 1). */
#define IDC_NEXT                 1     /* IDOK */
#define IDC_CANCEL               2     /* IDCANCEL */
#define IDC_BACK                 1007
#define IDC_PAGE_PLACEHOLDER     1006  /* pages are moved to its top-left */
#define IDC_PICTURE              1011  /* the frame picture is centred here */
#define IDC_PANEL                1012  /* drawn as a sunken panel */

/* Every page: texts from the page's message group, indices 1 to 4. */
#define IDC_TEXT1                1000
#define IDC_TEXT2                1001
#define IDC_TEXT3                1002
#define IDC_TEXT4                1003

/* Directory page (template 2). */
#define IDC_FOLDER_EDIT          1004
#define IDC_BROWSE               1005
#define IDC_SPACE_REQUIRED       1016
#define IDC_SPACE_REQUIRED_LABEL 1017
#define IDC_SPACE_FREE_LABEL     1018
#define IDC_SPACE_FREE           1019

/* Progress page (template 4). */
#define IDC_PROGRESS_PATH        1008
#define IDC_PROGRESS_BAR         1009  /* only its rectangle is used */
#define IDC_PROGRESS_PERCENT     1010

/* Finish page (template 6). */
#define IDC_VIEW_BUTTON          1014
#define IDC_LAUNCH_CHECK         1015

/* Folder browser (template 7): a complete old-style file dialog template
 * for GetSaveFileNameA. The standard ids are those of <dlgs.h>.
 */
#define IDC_BROWSE_FOLDER        101   /* the chosen folder, read on OK */
#define IDC_BROWSE_FOLDER_LABEL  1009
#define IDC_FD_OK                1     /* IDOK */
#define IDC_FD_CANCEL            2     /* IDCANCEL */
#define IDC_FD_HELP              1038  /* pshHelp */
#define IDC_FD_READONLY          1040  /* chx1 */
#define IDC_FD_DIR_TEXT          1088  /* stc1 */
#define IDC_FD_TYPE_LABEL        1089  /* stc2 */
#define IDC_FD_NAME_LABEL        1090  /* stc3 */
#define IDC_FD_DRIVES_LABEL      1091  /* stc4 */
#define IDC_FD_FILE_LIST         1120  /* lst1 */
#define IDC_FD_DIR_LIST          1121  /* lst2 */
#define IDC_FD_TYPE_COMBO        1136  /* cmb1 */
#define IDC_FD_DRIVE_COMBO       1137  /* cmb2 */
#define IDC_FD_NAME_EDIT         1152  /* edt1 */

#endif
