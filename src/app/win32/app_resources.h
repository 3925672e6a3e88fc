// Resource numbers that the launcher's code loads. Shared by the C++ code and
// the resource scripts, so plain #defines only.
#pragma once

#define IDD_LAUNCHER 102
#define IDI_APP 103
// The application title: the caption of the launcher's message boxes.
#define IDS_APP_TITLE 57344
