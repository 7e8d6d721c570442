// The built-in web server's side of one connection: it reads one HTTP/1.0
// request line, answers with the download page or one of a fixed set of
// files from the current folder, and closes.  A TWebSession is created by
// the host on an accept event of the web port and owned by the web
// server's Connections; it owns its IO, its row in the connection list and
// the file being sent.  TWebTraffic, owned by the host beside the web
// server, keeps the sessions within their limits of number, time and
// bytes sent per pass.  User-interface thread only.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/SessionRows.h"
#include "net/Sockets.h"

// TSocketIO that can also drop what it has received.
class TWebSocketIO : public TSocketIO {
 public:
  using TSocketIO::TSocketIO;
  void DropInput() { FInBuffer.clear(); }
};

class QTimer;
class TWebTraffic;

class TWebSession : public TSessionItem {
 public:
  // A request line that has not ended within this many bytes closes the
  // connection, so no peer can make the host hold unbounded memory.
  static constexpr int32_t MaxRequestLineBytes = 8 * 1024;
  // Files are read in pieces of this size.
  static constexpr int32_t FilePieceBytes = 1024;
  // Pieces one session sends in one flush, its share of a pass of the web
  // traffic; the rest waits for another share, so that a download never
  // holds more than this in memory.
  static constexpr int32_t PiecesPerPass = 16;

  // Accepts the pending connection of listening and adds its row to list
  // ("(web)", "connexion", "00:00:00").  traffic, when given, must outlive
  // the session; it takes the sends put off to the next pass.
  TWebSession(TServer& server, TSocketHandle listening, TSessionListView& list,
              TWebTraffic* traffic = nullptr);
  // Closes the file, removes the row; the socket closes last.
  ~TWebSession() override;

  // On a read event: takes the request line once it is complete and
  // answers it.  Whatever the peer sends after the request line is read and
  // dropped.  May release the session (`this` is then gone).
  void HandleRequest();
  // On a write event: sends what is left of a page, or of the pieces
  // already read; the next pieces of a file wait for the traffic's next
  // pass (without traffic they go at once).  Releases the session once the
  // last byte has been handed over.
  void SendMore();
  // The traffic's pass: what is left, then at most PiecesPerPass pieces of
  // the file.  A file that ends before the size its header announced ends
  // the session (the peer sees the answer cut short) and raises "Stream
  // read error".
  void SendShare();
  // Answers with the file folder + name (folder "" or "DATA\"), or with the
  // not-found page.
  void SendFile(const std::string& name, const std::string& folder);
  // On a close event: the peer has ended its sending side.  A client may do
  // that right after its request and still read the answer, so an answer
  // under way goes on until its last byte or until a send fails; without
  // one the session is released.  `this` may be gone afterwards.
  void PeerClosed();

  // Whether the request line or the answer has stalled at now (a tick):
  // no request line RequestLineTimeoutMs after the connection came, or no
  // byte handed over for StalledDownloadTimeoutMs while answering.
  bool Stalled(uint32_t now) const;

  TSocketIO& IO() const { return *FIO; }
  TSessionRow& Row() const { return *FRow; }

 private:
  void Answer(const std::string& line);
  void WriteHeader(const std::string& status);
  void SendPage();
  // The page's line on how to join the game, at the address the browser
  // reached; and the one for players on the Internet, empty while the
  // router gave no public address.
  std::string JoinLine() const;
  std::string InternetJoinLine() const;
  void SendNotFound(const std::string& name, const std::string& folder);
  // Flushes a page; releases once it has gone out whole.
  void SendText();
  // Flush, except that once the peer has closed its side a failing send
  // ends the session (its close event has come already) before the error
  // goes on to the caller.
  bool Flush();
  // The next pieces of the file, within this pass's share.
  void SendPieces();
  // Reads the next piece of the file into the output buffer.
  void AppendPiece();

  std::unique_ptr<TWebSocketIO> FIO;
  TSessionListView& FListView;
  TWebTraffic* FTraffic;
  std::unique_ptr<TSessionRow> FRow;
  std::unique_ptr<std::ifstream> FFileStream;
  int64_t FRemaining = 0;
  bool FRequestTaken = false;
  bool FPeerClosed = false;
  // Ticks: when the connection came, and when a byte last went out.
  uint32_t FStarted;
  uint32_t FLastProgress;
};

// The bounds of the web server as a whole: how many connections it keeps,
// in all and from one address (the ones past them are closed at once, the
// game port is not concerned), how long a request line or a stalled answer
// may take, and the sends put off to the next pass of the event loop.  The
// game host owns it with the web server; it refers to the server's
// sessions without owning them, and a session forgets itself as it goes.
class TWebTraffic {
 public:
  static constexpr int MaxConnections = 64;
  static constexpr int MaxPerAddress = 8;
  static constexpr uint32_t RequestLineTimeoutMs = 10 * 1000;
  static constexpr uint32_t StalledDownloadTimeoutMs = 60 * 1000;
  // Shares (sends of at most PiecesPerPass pieces) of one pass, taken by
  // the waiting sessions in turn: a download alone takes them all.
  static constexpr int SharesPerPass = 8;
  // Passes are at least this far apart, in milliseconds of the tick clock:
  // the web server sends at most 8 x 16 KiB every 4 ms, 32 MiB a second in
  // all, however many downloads run and however fast they read, so that
  // the players' relaying keeps the host and the machine.
  static constexpr uint32_t PassPeriodMs = 4;
  // How often the time-outs are looked at, in milliseconds of real time.
  static constexpr int SweepPeriodMs = 1000;

  explicit TWebTraffic(TServer& server);
  ~TWebTraffic();
  TWebTraffic(const TWebTraffic&) = delete;
  TWebTraffic& operator=(const TWebTraffic&) = delete;

  // Whether newcomer, already accepted and listed, stays within the
  // limits; when it does not, it is released at once (`newcomer` is gone).
  bool Admit(TWebSession& newcomer);
  // Sends more for session at the next pass of the event loop.
  void SendLater(TWebSession& session);
  // Drops session from the sends put off (it is going away).
  void Forget(const TWebSession& session);
  // Releases every session stalled at now (a tick).
  void EndStalled(uint32_t now);

  // The game port the download page tells, host byte order.
  uint16_t GamePort = 0;
  // The router's public address and port for the game, once the port
  // mapping has them (empty and 0 before, and without one): the page
  // gives them to players on the Internet.
  std::string PublicAddress;
  uint16_t PublicGamePort = 0;

 private:
  void RunPass();
  // Milliseconds until the next pass may run (0: now).
  int MsToNextPass() const;

  TServer& FServer;
  std::vector<TWebSession*> FWaiting;
  uint32_t FLastPass = 0;  // tick of the last pass; 0 before the first
  std::unique_ptr<QTimer> FPassTimer;
  std::unique_ptr<QTimer> FSweepTimer;
};

// The size as the download page shows it: "1023 octets", "1 Ko", "1023 Ko",
// "1 Mo".
std::string SizeText(int64_t size);
