// The module's application object: constructed at load, destroyed at unload,
// never initialised or run.
#ifndef TALVERON_LIFECYCLE_SEARCH_ADD_APP_H
#define TALVERON_LIFECYCLE_SEARCH_ADD_APP_H

#include "framework/afxwin.h"

class CSearchAddApp : public CWinApp {
public:
    CSearchAddApp();
    ~CSearchAddApp() override;
    const AFX_MSGMAP* GetMessageMap() const override;
    static const AFX_MSGMAP messageMap;  // no entries; based on CWinApp's
};

extern CSearchAddApp theApp;

#endif
