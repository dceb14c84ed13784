#include "framework/afxwin.h"

namespace {
AFX_MODULE_STATE s_moduleState = {nullptr, nullptr, nullptr, nullptr};
}

AFX_MODULE_STATE* AfxGetModuleState() { return &s_moduleState; }

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), nullptr, nullptr};
const CRuntimeClass* CObject::GetRuntimeClass() const { return &classCObject; }
CObject::~CObject() = default;
void CObject::Serialize(void*) {}
void CObject::AssertValid() const {}
void CObject::Dump(void*) const {}

const AFX_MSGMAP CCmdTarget::messageMap = {nullptr, nullptr};
const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return &messageMap; }

const CRuntimeClass CWinApp::classCWinApp = {"CWinApp", sizeof(CWinApp), &CObject::classCObject, nullptr};
const AFX_MSGMAP CWinApp::messageMap = {&CCmdTarget::messageMap, nullptr};

CWinApp::CWinApp(const char* lpszAppName) : m_pszAppName(lpszAppName) {}
CWinApp::~CWinApp() = default;
const CRuntimeClass* CWinApp::GetRuntimeClass() const { return &classCWinApp; }
const AFX_MSGMAP* CWinApp::GetMessageMap() const { return &messageMap; }
int CWinApp::InitInstance() { return 1; }
int CWinApp::Run() { return ExitInstance(); }
int CWinApp::ExitInstance() { return 0; }
