/* Resource ids of the setup program. Shared by setup.rc and the C++ code, so this
 * file holds only #define lines: the resource compiler reads nothing else from it. */
#ifndef SETUP_RESOURCE_H
#define SETUP_RESOURCE_H

/* Icons */
#define IDI_VIEWER 1
#define IDI_INTERPRETER 2

/* Controls shared by several dialogs */
#define IDC_EDIT_TEXT 52

/* Dialog 200: introduction */
#define IDD_INTRO 200
#define IDC_INTRO_TITLE 201
#define IDC_INTRO_DISKS 202

/* Dialog 250: copyright */
#define IDD_COPYRIGHT 250
#define IDC_COPYRIGHT_SEPARATE 251
#define IDC_COPYRIGHT_VIEWER 252
#define IDC_COPYRIGHT_INTERPRETER 253

/* Dialog 320: base directory */
#define IDD_DIRECTORY 320
#define IDC_DIRECTORY_LABEL 321
#define IDC_DIRECTORY_CHANGE 53
#define IDC_DIRECTORY_INTERPRETER 54

/* Dialog 350: missing ZIP file */
#define IDD_MISSING_ZIP 350
#define IDC_MISSING_ZIP_TEXT 351

/* Dialog 360: start-up file */
#define IDD_CONFIG 360
#define IDC_CONFIG_TEXT 361

/* Dialog 570: progress window */
#define IDD_PROGRESS 570
#define IDC_PROGRESS_LOG 571
#define IDC_PROGRESS_COPY 572

/* String table */
#define IDS_SUCCESS 868
#define IDS_MAKE_DIRECTORY_FAILED 870
#define IDS_CREATE_DIRECTORY_s 872
#define IDS_VIEWER_SUBDIRECTORY 873
#define IDS_SKIP_INTERPRETER_s 875
#define IDS_ABORTED_s 900

#endif
