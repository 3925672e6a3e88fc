// Entry point of VantorelLauncher.exe.
#include <winsock2.h>
#include <windows.h>

#include "app/win32/launcher_app.h"
#include "journal/journal.h"

namespace {

// Winsock for the whole life of the process: started once before start-up,
// cleaned up when the process ends.
class WinsockSession {
public:
    WinsockSession() {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession() {
        if (m_started) WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

private:
    bool m_started = false;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The one journal of the process exists before the application starts.
    TheJournal();
    WinsockSession winsock;
    CLauncherApp app;
    return app.Run();
}
