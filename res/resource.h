/* Resource ids of the setup program and the uninstaller. Shared by setup.rc, uninst.rc and
 * the C++ code, so this file holds only #define lines: the resource compiler reads nothing
 * else from it. */
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

/* Dialog 600: what the uninstaller will remove */
#define IDD_REMOVE 600
#define IDC_REMOVE_TEXT 601

/* String table */
#define IDS_SUCCESS 868
#define IDS_MAKE_DIRECTORY_FAILED 870
#define IDS_CREATE_DIRECTORY_s 872
#define IDS_VIEWER_SUBDIRECTORY 873
#define IDS_SKIP_INTERPRETER_s 875
#define IDS_ABORTED_s 900

/* String table of the uninstaller */
#define IDS_CONFIRM_s 1000
#define IDS_CONFIRM_FILES_d 1001
#define IDS_CONFIRM_GROUP_s 1002
#define IDS_CONFIRM_LINE_ss 1003
#define IDS_CONFIRM_SETTINGS_sss 1004
#define IDS_CONFIRM_ENTRY 1005
#define IDS_CONFIRM_INTERPRETER_sd 1006
#define IDS_LOG_GROUP_s 1010
#define IDS_NO_PROGRAM_MANAGER_s 1011
#define IDS_LOG_SETTINGS_sss 1012
#define IDS_LOG_STARTUP_ss 1013
#define IDS_STARTUP_LEFT_ss 1014
#define IDS_OVERWRITE_s 1015
#define IDS_STARTUP_BACKUP_EXISTS_sss 1016
#define IDS_STARTUP_RESTORED_ss 1017
#define IDS_STARTUP_REMOVED_sss 1018
#define IDS_LOG_DELETE_s 1019
#define IDS_LOG_KEPT_s 1020
#define IDS_LOG_FOLDER_s 1021
#define IDS_REMOVE_INTERPRETER_s 1022
#define IDS_INTERPRETER_KEPT_s 1023
#define IDS_KEPT_FILES_s 1024
#define IDS_LOG_ENTRY 1025
#define IDS_RESTART_NT_s 1026
#define IDS_RESTART_95_s 1027
#define IDS_LEFT_s 1028
#define IDS_REMOVED_s 1029
#define IDS_REMOVAL_ABORTED_s 1030
#define IDS_NO_RECORD_s 1031
#define IDS_STARTUP_GONE_ss 1032
#define IDS_STARTUP_LARGE_ss 1033

#endif
