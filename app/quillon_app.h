// CQuillonApp: the application object. It has no window of its own: it
// runs the main dialog modally and ends the process when the dialog closes.
#pragma once

class CQuillonApp {
public:
    CQuillonApp() = default;
    virtual ~CQuillonApp() = default;
};

extern CQuillonApp theApp;
