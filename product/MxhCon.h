// One connection to the product server over the helper library: a private copy of the library's
// SOAP context, calls serialised by the connection's lock, the session header passed to the
// server and taken back, and every call's result turned into an error number and texts.
#pragma once

#include <functional>
#include <mutex>
#include <new>
#include <string>

#include "product/helper/Vorma6Helper.h"

class CMxhCon {
  public:
    // A call refused locally because the connection is blocked.
    static constexpr int kResultBlocked = 63;
    // Results from 20 to 25 leave the connection blocked until Connect or Disconnect.
    static constexpr int kFirstBlockingResult = 20;
    static constexpr int kLastBlockingResult = 25;

    // Copies the library's client context (Mxh_GetClientSoapObj). Throws std::bad_alloc with the
    // text "soap_copy memory allocate Fail in CMxhCon:constractor." when it cannot.
    CMxhCon();
    CMxhCon(const CMxhCon&) = delete;
    CMxhCon& operator=(const CMxhCon&) = delete;

    // Takes the lock; false when the connection is blocked (the lock stays taken: EndCall releases
    // it). Frees the previous call's data when free-before-call is set, and hands the header
    // record to the context.
    virtual bool BeginCall();
    // Takes the result of the call into the members, then releases the lock.
    virtual void EndCall();
    virtual ~CMxhCon();
    // Frees what earlier calls left in the context.
    virtual void FreeCallData();
    // Clears the block, then logs in with the account name and password.
    virtual int Connect();
    // Logs off when there is a session (returning Logoff's result), empties the session and
    // clears the block; 0 without a session, with no call.
    virtual int Disconnect();
    virtual void SetFreeBeforeCall(bool freeBeforeCall);
    virtual std::string GetServerName() const;
    virtual void SetServerName(const std::string& name);
    virtual std::string GetAccountName() const;
    virtual void SetAccountName(const std::string& name);
    virtual std::string GetPassword() const;
    virtual void SetPassword(const std::string& password);
    virtual std::wstring GetHeaderText() const;
    virtual void SetHeaderText(const std::wstring& text);
    virtual std::wstring GetAccessClass() const;
    virtual void SetAccessClass(const std::wstring& accessClass);
    virtual int GetLastResult() const;
    // Time-outs of the context in seconds.
    virtual void SetTimeouts(int connectSeconds, int sendSeconds, int receiveSeconds);
    // Called after a successful call that changed the access class from "ExclusiveClass" to
    // "SharedClass".
    virtual void SetClassChangeCallback(std::function<void()> callback);

    // The server operations the manager uses (the product's other operations follow the same
    // pattern and are not needed here).
    virtual int Login(const std::string& account, const std::string& password) = 0;
    virtual int Logoff() = 0;
    virtual int GetAppConfig(wchar_t* section, ns1__Config* config) = 0;

    // The state the calls leave behind.
    const std::string& GetSession() const { return m_session; }
    int GetHeaderNumber() const { return m_headerNumber; }
    bool IsBlocked() const { return m_blocked; }
    // Details of the last failed call; a success leaves them as they were.
    const std::string& GetFaultText() const { return m_faultText; }
    int GetErrorNumber() const { return m_errorNumber; }
    const std::wstring& GetMessage() const { return m_message; }
    const std::wstring& GetSource() const { return m_source; }
    const std::wstring& GetMessage2() const { return m_message2; }

  protected:
    // The forwarding pattern of every server operation: `call` runs on the context between
    // BeginCall and EndCall; a blocked connection gives 63 without calling it.
    // An exception out of `call` is not let through the lock: running out of memory gives 20
    // (SOAP_EOM), anything else 99 (SOAP_ERR).
    template <typename Call>
    int Forward(Call&& call) {
        if (BeginCall()) {
            try {
                m_lastResult = call(m_soap);
            } catch (const std::bad_alloc&) {
                m_lastResult = SOAP_EOM;
            } catch (...) {
                m_lastResult = SOAP_ERR;
            }
        } else {
            // The refused call is the failure EndCall describes.
            m_lastResult = kResultBlocked;
        }
        EndCall();
        return m_lastResult;
    }

  private:
    void TakeHeader();
    void TakeFault();

    std::mutex m_lock;
    struct soap* m_soap = nullptr;
    int m_lastResult = 0;
    SOAP_ENV__Header m_header;
    std::string m_serverName;
    std::string m_accountName;
    std::string m_password;
    std::string m_session;
    std::wstring m_headerText;
    int m_headerNumber = 0;
    bool m_freeBeforeCall = true;
    std::function<void()> m_classChangeCallback;
    bool m_blocked = false;
    std::wstring m_accessClass;
    std::string m_faultText;
    int m_errorNumber = 0;
    std::wstring m_message;
    std::wstring m_source;
    std::wstring m_message2;
};
