#include "platform/WinSock.h"

#include "platform/Errors.h"

namespace ws {
[[noreturn]] static void NotYet() { throw Exception("not yet"); }
int WSAStartup(uint16_t, TWSAData*) { return 0; }
int WSACleanup() { return 0; }
int WSAGetLastError() { return 0; }
void WSASetLastError(int) {}
int TranslateErrno(int) { NotYet(); }
TSocketHandle socket(int, int, int) { NotYet(); }
int bind(TSocketHandle, const TSockAddrIn&) { NotYet(); }
int listen(TSocketHandle, int) { NotYet(); }
TSocketHandle accept(TSocketHandle, TSockAddrIn*) { NotYet(); }
int connect(TSocketHandle, const TSockAddrIn&) { NotYet(); }
int recv(TSocketHandle, char*, int, int) { NotYet(); }
int send(TSocketHandle, const char*, int, int) { NotYet(); }
int closesocket(TSocketHandle) { NotYet(); }
int getsockname(TSocketHandle, TSockAddrIn&) { NotYet(); }
int SetSendBufferSize(TSocketHandle, int) { NotYet(); }
int SetReceiveBufferSize(TSocketHandle, int) { NotYet(); }
std::vector<uint32_t> gethostbyname(const std::string&) { NotYet(); }
int gethostname(char*, int) { NotYet(); }
uint32_t inet_addr(const std::string&) { NotYet(); }
std::string inet_ntoa(uint32_t) { NotYet(); }
}  // namespace ws
