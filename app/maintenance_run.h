// Told when the update engine starts writing a printer and when it has
// returned: in between nothing may cut the run short (a front end holds
// back whatever would end the process, and ends no wait of the run).
#pragma once

class IMaintenanceRunObserver {
public:
    virtual ~IMaintenanceRunObserver() = default;
    virtual void OnRunBegins() = 0;
    virtual void OnRunEnds() = 0;
};
