#include "frontends/terminal/signal_guard.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "frontends/terminal/translation.h"

// TRANSLATORS: shown when Ctrl-C, a closed session or a termination
// request arrives while the printer is being written.
const char kSignalNotice[] =
    N_("\nquillon: the firmware update is being completed and must not be interrupted.\n"
       "quillon: it ends by itself with its message; do not unplug or switch off the printer.\n");

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kNoticeMax = 1024;

volatile sig_atomic_t g_inRun = 0;
volatile sig_atomic_t g_runBegun = 0;
volatile sig_atomic_t g_cancelRequested = 0;
volatile sig_atomic_t g_stopWaiting = 0;
volatile sig_atomic_t g_noticeShown = 0;
volatile sig_atomic_t g_held = 0;
int g_ttyFd = -1;  // the controlling terminal when it is not standard error
int g_devNull = -1;
char g_notice[kNoticeMax];
size_t g_noticeLength = 0;

void OnSignal(int) {
    const int saved = errno;
    if (g_inRun) {
        g_held = g_held + 1;
        if (!g_noticeShown) {
            g_noticeShown = 1;
            // Where the progress goes, and the terminal when that is
            // elsewhere. One that is gone fails the write; nothing else
            // happens.
            ssize_t ignored = ::write(STDERR_FILENO, g_notice, g_noticeLength);
            if (g_ttyFd >= 0) ignored = ::write(g_ttyFd, g_notice, g_noticeLength);
            (void)ignored;
        }
    } else {
        if (!g_runBegun) g_cancelRequested = 1;
        g_stopWaiting = 1;
        // Nobody is to be asked any more: the input ends. A read that waits
        // is interrupted, and one about to begin finds the end at once (a
        // flag alone could be missed between its test and the read).
        if (g_devNull >= 0) ::dup2(g_devNull, STDIN_FILENO);
    }
    errno = saved;
}

struct sigaction g_old[3];
struct sigaction g_oldPipe;

// restart: interrupted calls resume (SA_RESTART). Outside a run they must
// not, so that a read waiting for the user returns and the dialog can end;
// during a run they must, so that no output and no transfer is cut short
// (the link's own waits repeat interrupted calls in any case).
void Install(bool restart, bool keepOld) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    action.sa_flags = restart ? SA_RESTART : 0;
    for (size_t k = 0; k < 3; ++k) sigaction(kSignals[k], &action, keepOld ? &g_old[k] : nullptr);
}

}  // namespace

CSignalGuard::CSignalGuard(const char* notice) {
    g_noticeLength = strnlen(notice, kNoticeMax - 1);
    memcpy(g_notice, notice, g_noticeLength);
    // Opened now: a handler may not look for them.
    g_devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    // Standard error is the controlling terminal when it is a terminal of
    // this process's session; the notice then goes there once.
    const bool stderrIsTheTerminal =
        ::isatty(STDERR_FILENO) == 1 && ::tcgetsid(STDERR_FILENO) == ::getsid(0);
    if (!stderrIsTheTerminal) g_ttyFd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);

    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &g_oldPipe);

    Install(false, true);
}

CSignalGuard::~CSignalGuard() {
    for (size_t k = 0; k < 3; ++k) sigaction(kSignals[k], &g_old[k], nullptr);
    sigaction(SIGPIPE, &g_oldPipe, nullptr);
    if (g_ttyFd >= 0) ::close(g_ttyFd);
    g_ttyFd = -1;
    if (g_devNull >= 0) ::close(g_devNull);
    g_devNull = -1;
}

void CSignalGuard::OnRunBegins() {
    // Marked first: a signal from now on is held, never a cancellation.
    g_runBegun = 1;
    g_inRun = 1;
    Install(true, false);
}

void CSignalGuard::OnRunEnds() {
    g_inRun = 0;
    Install(false, false);
}

// A run that began after all (the signal came between the user's answer
// and its start) ends with its own outcome.
bool CSignalGuard::CancelRequested() { return g_cancelRequested != 0 && g_runBegun == 0; }
bool CSignalGuard::StopWaiting() { return g_stopWaiting != 0; }
int CSignalGuard::HeldSignals() { return g_held; }
