// Resource ids of Runvel.
#pragma once

#define IDD_RUNVEL_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_RUNVEL_STATIC 1000
