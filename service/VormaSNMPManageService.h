// Installs and removes the manager as a service, together with its event-log source.
#pragma once

#include <cstdint>
#include <string>

class CVormaSNMPManageService {
  public:
    CVormaSNMPManageService() = default;
    virtual ~CVormaSNMPManageService() = default;

    // Creates the service (automatic start, own process, local system account) running this
    // program with `parameters`, sets its description, registers the event source and reports
    // event 1000. False, with nothing reported, when the service cannot be created.
    bool Install(const std::wstring& serviceName, const std::wstring& parameters);

    // Sends the stop control to a running instance (without waiting), deletes the service,
    // reports event 1001 and removes the event source. False when the service does not exist.
    bool Uninstall(const std::wstring& serviceName);

    std::uint32_t LastError() const { return m_lastError; }
    const std::wstring& LastErrorText() const { return m_lastErrorText; }

  private:
    void RecordError(std::uint32_t error);

    std::uint32_t m_lastError = 0;
    std::wstring m_lastErrorText;
};
