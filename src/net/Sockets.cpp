#include "net/Sockets.h"

#include "platform/Errors.h"

[[noreturn]] static void NotYet() { throw Exception("not yet"); }
void RaiseSocketError(const std::string&) { NotYet(); }
void RaiseSocketError(const std::string&, int) { NotYet(); }
uint32_t ResolveHost(const std::string&) { NotYet(); }
std::string LocalHostName() { NotYet(); }
TSocketLibrary::TSocketLibrary() {}
TSocketLibrary::~TSocketLibrary() {}
TSocket::TSocket(TMessageTarget*) { NotYet(); }
TSocket::~TSocket() {}
TSessionItem::TSessionItem(TServer&, TSocketHandle) { NotYet(); }
TSessionItem::~TSessionItem() {}
void TSessionItem::Release() { NotYet(); }
TSessionList::~TSessionList() {}
TSessionItem* TSessionList::FindBySocket(TSocketHandle) const { NotYet(); }
void TSessionList::Clear() {}
void TSessionList::Add(TSessionItem*) { NotYet(); }
std::unique_ptr<TSessionItem> TSessionList::Remove(TSessionItem*) { NotYet(); }
TServer::TServer(TMessageTarget* window, uint16_t, uint32_t) : TSocket(window) { NotYet(); }
TServer::~TServer() {}
uint16_t TServer::Port() const { NotYet(); }
TSocketIO::TSocketIO(TSocketHandle handle) : FHandle(handle) {}
void TSocketIO::Receive() { NotYet(); }
bool TSocketIO::ReadLine(std::string&) { NotYet(); }
void TSocketIO::Write(const char*, size_t) { NotYet(); }
void TSocketIO::WriteLine(const std::string&) { NotYet(); }
bool TSocketIO::Flush() { NotYet(); }
