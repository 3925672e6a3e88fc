// Version numbers shared by the resource scripts of the launcher and the installer.
#pragma once

#define VANTOREL_VERSION_BINARY 1, 0, 0, 0
#define VANTOREL_VERSION_TEXT "1.0.0.0"
