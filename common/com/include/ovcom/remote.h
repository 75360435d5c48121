// Out-of-process objects. A class is registered in HKEY_CLASSES_ROOT (program
// id -> class id -> local server path). Creating an object starts one server
// process for it and connects to it over a socket pair; every call is one JSON
// request line and one JSON reply line. Closing the connection releases the
// object: the server resets it and ends.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovcom/com.h"

namespace ov::com {

// Registration of a local server in HKEY_CLASSES_ROOT:
//   <progId>\CLSID = {clsid};  CLSID\{clsid} = description;
//   CLSID\{clsid}\ProgID = progId;  CLSID\{clsid}\LocalServer32 = serverPath.
HRESULT RegisterLocalServer(const CLSID& clsid, const std::string& progId,
                            const std::string& serverPath, const std::string& description);
HRESULT UnregisterLocalServer(const CLSID& clsid, const std::string& progId);
HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid);

// Starts the class's local server with "/Automation" and returns the proxy of
// its one object (one reference). Errors: REGDB_E_CLASSNOTREG when the class
// or its server is not registered, CO_E_SERVER_EXEC_FAILURE when the server
// cannot start or does not answer.
HRESULT CreateRemoteObject(const CLSID& clsid, IDispatch** object);
HRESULT CreateRemoteObject(const std::string& progId, IDispatch** object);
// The pid of the server process behind a proxy made by CreateRemoteObject, or
// -1 for any other object.
long RemoteProcessId(IDispatch* object);

// ---- server side
// The connection a server was started with, or -1 when the process was not
// started by CreateRemoteObject.
int TakeClientConnection();
// Serves object on connection until the client closes it (returns 0) or the
// connection breaks (returns 1). Between requests idle() runs every few
// milliseconds, so the server's window messages keep being handled.
int ServeObject(int connection, IDispatch* object, const std::function<void()>& idle);

// ---- the wire format (shared by both sides, and fuzzed)
struct Request {
    enum class Kind { Names, Invoke } kind = Kind::Names;
    std::vector<std::string> names;  // Names
    DISPID member = 0;               // Invoke
    WORD flags = 0;
    std::vector<Variant> args;
};
struct Reply {
    HRESULT hr = S_OK;
    std::vector<DISPID> ids;  // for Names
    Variant result;           // for Invoke
};
constexpr std::size_t kMaxMessageBytes = 1 << 20;

std::string EncodeRequest(const Request& request);
std::optional<Request> DecodeRequest(std::string_view line);
std::string EncodeReply(const Reply& reply);
std::optional<Reply> DecodeReply(std::string_view line);

}  // namespace ov::com
