// The application framework's application object and module state: the least
// that the module's application object and its load hook need.
#ifndef TALVERON_FRAMEWORK_AFXWIN_H
#define TALVERON_FRAMEWORK_AFXWIN_H

// A class's run-time record.
struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    const CRuntimeClass* m_pBaseClass;
    CRuntimeClass* m_pNextClass;  // next on the module's class list
};

// A message map: its (here always empty) entries and the map of the base class.
struct AFX_MSGMAP {
    const AFX_MSGMAP* pBaseMap;
    const void* lpEntries;
};

// Per-module state of the framework: the run-time class and object-factory
// lists, and the entries they held when the module was loaded.
struct AFX_MODULE_STATE {
    CRuntimeClass* m_classListHead;
    CRuntimeClass* m_pClassInit;
    void* m_factoryListHead;
    void* m_pFactoryInit;
};
AFX_MODULE_STATE* AfxGetModuleState();

class CObject {
public:
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject();
    // Serialisation, validity-check and dump hooks: nothing to do by default.
    virtual void Serialize(void* archive);
    virtual void AssertValid() const;
    virtual void Dump(void* context) const;
    static const CRuntimeClass classCObject;
};

class CCmdTarget : public CObject {
public:
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP messageMap;
};

class CWinThread : public CCmdTarget {};

class CWinApp : public CWinThread {
public:
    explicit CWinApp(const char* lpszAppName = nullptr);
    ~CWinApp() override;
    const CRuntimeClass* GetRuntimeClass() const override;
    const AFX_MSGMAP* GetMessageMap() const override;
    // Never called by the module; the framework's defaults.
    virtual int InitInstance();
    virtual int Run();
    virtual int ExitInstance();

    const char* m_pszAppName;
    static const CRuntimeClass classCWinApp;
    static const AFX_MSGMAP messageMap;
};

#endif
