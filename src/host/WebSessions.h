// The built-in web server's side of one connection: it reads one HTTP/1.0
// request line, answers with the download page or one of a fixed set of
// files from the current folder, and closes.  A TWebSession is created by
// the host on an accept event of the web port and owned by the web
// server's Connections; it owns its IO, its row in the connection list and
// the file being sent.  User-interface thread only.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "host/SessionRows.h"
#include "net/Sockets.h"

// TSocketIO that can also drop what it has received.
class TWebSocketIO : public TSocketIO {
 public:
  using TSocketIO::TSocketIO;
  void DropInput() { FInBuffer.clear(); }
};

class TWebSession : public TSessionItem {
 public:
  // A request line that has not ended within this many bytes closes the
  // connection, so no peer can make the host hold unbounded memory.
  static constexpr int32_t MaxRequestLineBytes = 8 * 1024;
  // Files go out in pieces of this size, one per flush.
  static constexpr int32_t FilePieceBytes = 1024;

  // Accepts the pending connection of listening and adds its row to list
  // ("(web)", "connexion", "00:00:00").
  TWebSession(TServer& server, TSocketHandle listening, TSessionListView& list);
  // Closes the file, removes the row; the socket closes last.
  ~TWebSession() override;

  // On a read event: takes the request line once it is complete and
  // answers it.  Whatever the peer sends after the request line is read and
  // dropped.  May release the session (`this` is then gone).
  void HandleRequest();
  // On a write event: sends what is left of the answer; releases the
  // session once the last byte has been handed over.
  void SendMore();
  // Answers with the file folder + name (folder "" or "DATA\"), or with the
  // not-found page.
  void SendFile(const std::string& name, const std::string& folder);
  // On a close event: the peer has ended its sending side.  A client may do
  // that right after its request and still read the answer, so an answer
  // under way goes on until its last byte or until a send fails; without
  // one the session is released.  `this` may be gone afterwards.
  void PeerClosed();

  TSocketIO& IO() const { return *FIO; }
  TSessionRow& Row() const { return *FRow; }

 private:
  void Answer(const std::string& line);
  void WriteHeader(const std::string& status);
  void SendPage();
  void SendNotFound(const std::string& name, const std::string& folder);
  // Flushes a page; releases once it has gone out whole.
  void SendText();
  // Flush, except that once the peer has closed its side a failing send
  // ends the session (its close event has come already) before the error
  // goes on to the caller.
  bool Flush();

  std::unique_ptr<TWebSocketIO> FIO;
  TSessionListView& FListView;
  std::unique_ptr<TSessionRow> FRow;
  std::unique_ptr<std::ifstream> FFileStream;
  int64_t FRemaining = 0;
  bool FRequestTaken = false;
  bool FPeerClosed = false;
};

// The size as the download page shows it: "1023 octets", "1 Ko", "1023 Ko",
// "1 Mo".
std::string SizeText(int64_t size);
