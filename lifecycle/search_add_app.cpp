#include "lifecycle/search_add_app.h"

#include "lifecycle/module_object.h"

const AFX_MSGMAP CSearchAddApp::messageMap = {&CWinApp::messageMap, nullptr};

CSearchAddApp::CSearchAddApp() : CWinApp(nullptr) { LIFECYCLE_TRACE("+", "theApp"); }
CSearchAddApp::~CSearchAddApp() { LIFECYCLE_TRACE("-", "theApp"); }
const AFX_MSGMAP* CSearchAddApp::GetMessageMap() const { return &messageMap; }
