// How the terminal updater meets the signals that would end it.
//
// - SIGPIPE is ignored while the guard lives: a write to a closed output
//   (a pipe whose reader went away, a terminal that is gone) fails with
//   EPIPE and the run goes on.
// - SIGINT, SIGTERM and SIGHUP during the maintenance run - from the moment
//   the update engine starts until it has returned, restart wait and
//   reconnection included - are held: the first one writes a notice saying
//   that the update is being completed and must not be interrupted (on standard error, where
//   the progress goes, and on the controlling terminal when that is
//   elsewhere); the run goes on to its
//   normal end and its message. Only SIGKILL can stop it.
// - The same signals before the maintenance run are a cancel request: the
//   input ends (standard input becomes /dev/null) and the dialog ends at the
//   next point where it waits for the user, as the cancel command (the
//   window closed) ends it: link and libraries released, exit
//   status 4. Identification is bounded and finishes first. After the run
//   they end a waiting message box; the run's own outcome stands.
//
// The handlers only set flags and write(2) the notice; all the real work is
// done by the normal flow, which asks CancelRequested().
#pragma once

#include "app/maintenance_run.h"

class CSignalGuard : public IMaintenanceRunObserver {
public:
    // Installs the handlers (sigaction) and remembers the actions they
    // replace. notice: the text shown on the first signal during a run.
    explicit CSignalGuard(const char* notice);
    // Restores the actions that were there before.
    ~CSignalGuard() override;
    CSignalGuard(const CSignalGuard&) = delete;
    CSignalGuard& operator=(const CSignalGuard&) = delete;

    void OnRunBegins() override;
    void OnRunEnds() override;

    // A signal arrived before any maintenance run began, and none began
    // since: the program is to end as the cancel command ends it.
    static bool CancelRequested();
    // A signal arrived while nobody may be asked any more (before a run, or
    // after it): a waiting box takes its safe answer, the dialog closes.
    static bool StopWaiting();
    // Signals held during maintenance runs.
    static int HeldSignals();
};

// The notice of the first signal during a run (front-end text, marked for
// translation; pass it through _() when the guard is made).
extern const char kSignalNotice[];
