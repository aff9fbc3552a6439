// Shared pieces of the connection tests: a probe that shows the component's
// protected state, an event recorder, and the way to reach the scenario server.
#pragma once

#include "tcp/TcpConnection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

// Port of a loopback test server (tests/servers/servers.sh); 0 when unset.
inline int ServerPortNumber(const char* variable) {
  const char* port = std::getenv(variable);
  return port ? std::atoi(port) : 0;
}

inline int ScenarioPort() { return ServerPortNumber("KESTREL_SCENARIO_PORT"); }

inline std::string ScenarioServer() { return "127.0.0.1:" + std::to_string(ScenarioPort()); }

// A TLS server by name (its certificate is for localhost): the scenario
// server over TLS by default, or another KESTREL_TLS_*_PORT.
inline std::string TlsServer(const char* variable = "KESTREL_TLS_SCENARIO_PORT") {
  return "localhost:" + std::to_string(ServerPortNumber(variable));
}

class TProbeConnection : public TTcpConnection {
public:
  using TTcpConnection::AsyncError;
  using TTcpConnection::AsyncErrorCode;
  using TTcpConnection::AsyncHandle;
  using TTcpConnection::Canceled;
  using TTcpConnection::Closed;
  using TTcpConnection::Connected;
  using TTcpConnection::Port;
  using TTcpConnection::RaiseSocketError;
  using TTcpConnection::RemoteAddress;
  using TTcpConnection::SocketHandle;
  using TTcpConnection::StartupCount;
  using TTcpConnection::TimeCounter;
};

// Records every event in the order it fires.
struct TEventLog {
  std::vector<std::string> Events;

  void Attach(TTcpConnection& c) {
    c.OnOpen = [this](TObject*) { Events.push_back("Open"); };
    c.OnConnect = [this](TObject*) { Events.push_back("Connect"); };
    c.OnClosing = [this](TObject*) { Events.push_back("Closing"); };
    c.OnClosed = [this](TObject*) { Events.push_back("Closed"); };
    c.OnCancel = [this](TObject*) { Events.push_back("Cancel"); };
    c.OnError = [this](TObject*, std::string& msg) { Events.push_back("Error: " + msg); };
  }
  std::string Joined() const {
    std::string all;
    for (const auto& e : Events) all += (all.empty() ? "" : " | ") + e;
    return all;
  }
};

// The message of the error a call raises, prefixed by its type.
template <typename Call>
std::string RaisedBy(Call call) {
  try {
    call();
  } catch (const ETimedOutError& e) {
    return std::string("ETimedOutError: ") + e.what();
  } catch (const ECanceledError& e) {
    return std::string("ECanceledError: ") + e.what();
  } catch (const ESocketError& e) {
    return std::string("ESocketError: ") + e.what();
  } catch (const EWinsockDLLError& e) {
    return std::string("EWinsockDLLError: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "(nothing raised)";
}

// Opens, connects to the scenario server and asks for a scenario by name.
inline void StartScenario(TTcpConnection& c, const std::string& scenario, int timeOut = 10) {
  ASSERT_NE(ScenarioPort(), 0) << "KESTREL_SCENARIO_PORT is not set: start tests/servers/servers.sh";
  c.Server = ScenarioServer();
  c.SetTimeOut(timeOut);
  c.ResetState();
  c.Open();
  c.Connect();
  c.SendLine("SCENARIO " + scenario);
}

// Binds the process-wide binding to the stand-in library for one test.
class TStandInLibrary {
public:
  TStandInLibrary() {
    WinsockApi.Unload();
    WinsockApi.SetLibraryName("kestrel_testsock.dll");
    WinsockApi.Load();
  }
  ~TStandInLibrary() {
    WinsockApi.Unload();
    WinsockApi.SetLibraryName(TWinsockApi::DefaultLibraryName);
    WinsockApi.Load();
  }
};
