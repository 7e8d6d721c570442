#include "net/ZULSockets.h"

#include "platform/Errors.h"

[[noreturn]] static void NotYet() { throw Exception("not yet"); }
void AppendPacked(std::string&, int32_t) { NotYet(); }
std::string EncodeInteger(int32_t) { NotYet(); }
std::string EncodeIntegers(std::initializer_list<int32_t>) { NotYet(); }
bool DecodePacked(const std::string&, size_t&, size_t, int32_t&) { NotYet(); }
void TZULMessageTarget::RouteMessage(TZULMessage&) { NotYet(); }
void TZULMessageTarget::SetHandler(int32_t, THandler) { NotYet(); }
TZULSocketIO::TZULSocketIO(TZULMessageTarget* owner, TSocketHandle handle) : TSocketIO(handle), FOwner(owner) {}
TZULSocketIO::~TZULSocketIO() {}
void TZULSocketIO::Receive() { NotYet(); }
void TZULSocketIO::DecodeFrames() { NotYet(); }
int32_t TZULSocketIO::ReadInteger() { NotYet(); }
std::string TZULSocketIO::ReadString() { NotYet(); }
void TZULSocketIO::WriteInteger(int32_t) { NotYet(); }
void TZULSocketIO::SendMessage(int32_t, const std::string&) { NotYet(); }
TZULSessionItem::TZULSessionItem(TZULServer& server, TSocketHandle listening) : TSessionItem(server, listening) {}
void TZULServer::Broadcast(TZULSessionItem*, int32_t, const std::string&) { NotYet(); }
void TZULServer::RelayChat(TZULSessionItem&, const std::string&) { NotYet(); }
