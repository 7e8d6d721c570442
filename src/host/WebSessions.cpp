#include "host/WebSessions.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <array>
#include <filesystem>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Text1252.h"
#include "platform/Tick.h"

namespace {

// A route is matched against the request line from its fifth character on,
// trailing blank included, so "/client " does not match "/client1".
struct TRoute {
  const char* Path;
  const char* File;
  const char* Folder;
};
const std::array<TRoute, 7> Routes = {{
    {"/client ", "VAROZUVOD.ZIP", ""},
    {"/client1 ", "VAROZUVOD.EXE", ""},
    {"/data ", "DATA.ZIP", ""},
    {"/data1 ", "TRIS.MD2", "DATA\\"},
    {"/data2 ", "KNIGHT.PCX", "DATA\\"},
    {"/data3 ", "WEAPON.MD2", "DATA\\"},
    {"/data4 ", "WEAPON.PCX", "DATA\\"},
}};

struct TListedFile {
  const char* Link;
  const char* ShownName;
  std::string Comment;
};
const std::array<TListedFile, 6>& ListedFiles() {
  static const std::array<TListedFile, 6> files = {{
      {"/client", "VAROzuvod.ZIP", "Le client VAROzuvod (zippé)"_cp},
      {"/client1", "VAROzuvod.exe", "Le client VAROzuvod (actif !)"_cp},
      {"/data1", "DATA/Tris.md2", "Le modèle Quake ][ des joueurs"_cp},
      {"/data2", "DATA/Knight.pcx", ""},
      {"/data3", "DATA/Weapon.md2", "L'épée Quake ][ des joueurs"_cp},
      {"/data4", "DATA/Weapon.pcx", ""},
  }};
  return files;
}

const std::string GetMethod = "GET ";
// The route text starts after "GET ".
constexpr std::size_t RouteOffset = 4;
constexpr int64_t BytesPerKilo = 1024;
// The status column of a connection the web server ends by itself.
const std::string TimedOutText = "Délai dépassé"_cp;
const std::string WebFullText = "Trop de connexions"_cp;

const std::string PageHead = "<html><head><title>VAROzuvod v1.0</title></head><body bgcolor=#c0c0c0>";
// The page is Windows-1252 text; a browser's first look at the first
// kilobyte finds this wherever it stands.
const std::string CharsetLine =
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">";
// The route and the file pattern of the Debian package, offered when the
// run folder holds one.
const std::string PackageRoute = "/debian ";
const std::string PackageSuffix = ".deb";
// Ends in CR LF: with WriteLine's own, it closes the header.
const std::string HtmlContentType = "Content-type: text/html\r\n";

// The row of the page's table for one file: size and date when it exists.
std::string SizeAndDate(const std::string& shownName) {
  std::string path = FindFile(shownName);
  QFileInfo info(QString::fromStdString(path));
  if (path.empty() || !info.isFile()) return "n/a</td><td>n/a</td>";
  QDateTime modified = info.lastModified();
  QLocale locale = QLocale::system();
  // The long time format with its seconds, but without the time zone.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat).remove('t').trimmed();
  QString date = locale.toString(modified.date(), QLocale::ShortFormat) + " " +
                 locale.toString(modified.time(), timeFormat);
  return SizeText(info.size()) + "</td><td>" + FromQString(date) + "</td>";
}

// The first Debian package of the current folder, by name; empty when none.
std::string PackageFileName() {
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".", error))
    if (entry.is_regular_file(error) && entry.path().filename().string().ends_with(PackageSuffix))
      names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names.empty() ? std::string() : names.front();
}

}  // namespace

std::string SizeText(int64_t size) {
  if (size < BytesPerKilo) return std::to_string(size) + " octets";
  int64_t kilo = size / BytesPerKilo;
  if (kilo < BytesPerKilo) return std::to_string(kilo) + " Ko";
  return std::to_string(kilo / BytesPerKilo) + " Mo";
}

TWebSession::TWebSession(TServer& server, TSocketHandle listening, TSessionListView& list,
                         TWebTraffic* traffic)
    : TSessionItem(server, listening),
      FListView(list),
      FTraffic(traffic),
      FStarted(GetTickCount()),
      FLastProgress(FStarted) {
  FIO = std::make_unique<TWebSocketIO>(Handle());
  FRow = list.AddRow(this, Address(), {"(web)", "connexion", "00:00:00"});
}

TWebSession::~TWebSession() {
  if (FTraffic) FTraffic->Forget(*this);
  FFileStream.reset();
  FIO.reset();
  FRow.reset();
}

void TWebSession::HandleRequest() {
  FIO->Receive();
  if (FRequestTaken) {
    // Header lines and whatever else follows the request line.
    FIO->DropInput();
    return;
  }
  std::string line;
  if (!FIO->ReadLine(line)) {
    if (FIO->InCount() > MaxRequestLineBytes) Release();
    return;
  }
  FRequestTaken = true;
  FLastProgress = GetTickCount();
  FIO->DropInput();
  Answer(line);
}

void TWebSession::Answer(const std::string& line) {
  FRow->SetSubItem(TSessionRow::StatusColumn, line);
  if (line.compare(0, GetMethod.size(), GetMethod) != 0) {
    Release();
    return;
  }
  for (const TRoute& route : Routes) {
    if (line.compare(RouteOffset, std::char_traits<char>::length(route.Path), route.Path) == 0) {
      SendFile(route.File, route.Folder);
      return;
    }
  }
  std::string package;
  if (line.compare(RouteOffset, PackageRoute.size(), PackageRoute) == 0 &&
      !(package = PackageFileName()).empty()) {
    SendFile(package, "");
    return;
  }
  SendPage();
}

void TWebSession::WriteHeader(const std::string& status) {
  FIO->WriteLine(status);
  FIO->WriteLine(HtmlContentType);
  FIO->WriteLine(PageHead);
}

void TWebSession::SendPage() {
  WriteHeader("HTTP/1.0 200 OK");
  FIO->WriteLine(CharsetLine);
  FIO->WriteLine("<h1>Serveur ZUL-Vantor v1.0</h1>");
  FIO->WriteLine("<hr>Ce site Web vous permet de télécharger :"_cp);
  FIO->WriteLine("<table border=1><tr><th>Fichier</th><th>Taille</th><th>Date</th><th>commentaire</th></tr>");
  for (const TListedFile& file : ListedFiles()) {
    FIO->WriteLine(std::string("<tr><td><a href=\"") + file.Link + "\">" + file.ShownName + "</td><td>");
    FIO->WriteLine(SizeAndDate(file.ShownName));
    FIO->WriteLine("<td>" + file.Comment + "</td></tr>");
  }
  FIO->WriteLine("</table>");
  FIO->WriteLine("Le répertoire d'installation doit contenir :<pre>"_cp);
  FIO->WriteLine(" /VAROzuvod.exe");
  FIO->WriteLine(" /DATA/Tris.md2");
  FIO->WriteLine(" /DATA/Weapon.md2");
  FIO->WriteLine(" /DATA/Knight.pcx");
  FIO->WriteLine(" /DATA/Weapon.pcx");
  FIO->WriteLine("</pre>");
  FIO->WriteLine("<hr><i>il y a actuellement " + std::to_string(FListView.Count()) +
                 " connexion(s) sur ce serveur.</i>");
  FIO->WriteLine(JoinLine());
  if (std::string internet = InternetJoinLine(); !internet.empty()) FIO->WriteLine(internet);
  if (std::string package = PackageFileName(); !package.empty())
    FIO->WriteLine("<p><a href=\"/debian\">" + package + "</a> : le paquet Debian du jeu.</p>");
  FIO->WriteLine("</body></html>");
  SendText();
}

namespace {
// An address as the page gives it with the game port: an IPv4 one with
// ", port N" as players always read it, an IPv6 one in brackets as they
// type it ("[2001:db8::7]:2048").
std::string AddressForPlayers(const std::string& address, uint16_t port) {
  if (address.find(':') != std::string::npos) return AddressAndPort(address, port);
  return address + ", port " + std::to_string(port);
}
}  // namespace

// The address the browser reached this host at is one the players can
// reach it at too.
std::string TWebSession::JoinLine() const {
  ws::TAddress local;
  std::string address = ws::getsockname(Handle(), local) == ws::SOCKET_ERROR ? "" : ws::inet_ntop(local);
  uint16_t port = FTraffic ? FTraffic->GamePort : 0;
  return std::string("<p>Pour jouer : lancez VAROzuvod et rejoignez la partie à l'adresse "_cp) +
         AddressForPlayers(address, port) + ".</p>";
}

std::string TWebSession::InternetJoinLine() const {
  if (!FTraffic || FTraffic->PublicAddress.empty() || FTraffic->PublicGamePort == 0) return {};
  return std::string("<p>Depuis Internet : rejoignez la partie à l'adresse "_cp) +
         AddressForPlayers(FTraffic->PublicAddress, FTraffic->PublicGamePort) + ".</p>";
}

void TWebSession::SendNotFound(const std::string& name, const std::string& folder) {
  WriteHeader("HTTP/1.0 404 OK");
  FIO->WriteLine("Fichier " + folder + name + " introuvable.");
  FIO->WriteLine("</body></html>");
  SendText();
}

void TWebSession::SendText() {
  if (Flush()) Release();
}

bool TWebSession::Flush() {
  std::size_t unsent = FIO->OutBuffer().size();
  bool emptied = false;
  if (!FPeerClosed) {
    emptied = FIO->Flush();
  } else {
    try {
      emptied = FIO->Flush();
    } catch (...) {
      Release();
      throw;
    }
  }
  if (FIO->OutBuffer().size() < unsent) FLastProgress = GetTickCount();
  return emptied;
}

bool TWebSession::Stalled(uint32_t now) const {
  if (!FRequestTaken) return now - FStarted >= TWebTraffic::RequestLineTimeoutMs;
  return now - FLastProgress >= TWebTraffic::StalledDownloadTimeoutMs;
}

void TWebSession::PeerClosed() {
  bool answering = FRequestTaken && (FFileStream || !FIO->OutBuffer().empty());
  if (!answering) {
    Release();
    return;
  }
  FPeerClosed = true;
}

void TWebSession::SendFile(const std::string& name, const std::string& folder) {
  std::string path = FindFile(folder + name);
  std::unique_ptr<std::ifstream> stream;
  try {
    if (!path.empty()) stream = std::make_unique<std::ifstream>(OpenFileRead(path));
  } catch (const Exception&) {
  }
  if (!stream) {
    SendNotFound(name, folder);
    return;
  }
  FRemaining = static_cast<int64_t>(BytesLeft(*stream));
  FFileStream = std::move(stream);
  FIO->WriteLine("HTTP/1.0 200 OK");
  FIO->WriteLine("Content-type: application/octet-stream");
  FIO->WriteLine("Content-length: " + std::to_string(FRemaining));
  FIO->WriteLine("Content-Disposition: attachment; filename=" + name);
  FIO->WriteLine("");
  SendMore();
}

void TWebSession::SendMore() {
  if (!FFileStream) {
    SendText();
    return;
  }
  // What the socket did not take last time goes before the next piece.
  if (!FIO->OutBuffer().empty() && !Flush()) return;
  if (FTraffic)
    FTraffic->SendLater(*this);
  else
    SendPieces();
}

void TWebSession::SendShare() {
  if (!FFileStream) {
    SendText();
    return;
  }
  if (!FIO->OutBuffer().empty() && !Flush()) return;
  SendPieces();
}

// The pieces of one pass join the buffer and go out in one send: a send
// per piece would cost the host a system call for every kilobyte.
void TWebSession::SendPieces() {
  while (FRemaining > 0) {
    for (int pieces = 0; pieces < PiecesPerPass && FRemaining > 0; ++pieces) AppendPiece();
    if (!Flush()) return;
    if (FRemaining > 0 && FTraffic) {
      FTraffic->SendLater(*this);
      return;
    }
  }
  FFileStream.reset();
  // An empty file leaves its header unsent: no write event would ever come
  // for it, so it goes now.
  if (!FIO->OutBuffer().empty()) Flush();
  if (FIO->OutBuffer().empty()) Release();
}

void TWebSession::AppendPiece() {
  char piece[FilePieceBytes];
  auto count = static_cast<std::streamsize>(std::min<int64_t>(FRemaining, FilePieceBytes));
  try {
    ReadBuffer(*FFileStream, piece, static_cast<std::size_t>(count));
  } catch (const Exception&) {
    // The file shrank under us: the peer would wait for the bytes its
    // header promised until it gave up.  Closing now tells it the answer
    // is cut short, and the session no longer counts on the page.
    FFileStream.reset();
    Release();
    throw;
  }
  FRemaining -= count;
  FIO->Write(piece, static_cast<std::size_t>(count));
}

// ---------------------------------------------------------------------------
// TWebTraffic

TWebTraffic::TWebTraffic(TServer& server)
    : FServer(server), FPassTimer(std::make_unique<QTimer>()), FSweepTimer(std::make_unique<QTimer>()) {
  // A pass runs once the events already waiting have been handled, and
  // not before its period since the last one.
  FPassTimer->setSingleShot(true);
  FPassTimer->setTimerType(Qt::PreciseTimer);
  QObject::connect(FPassTimer.get(), &QTimer::timeout, [this] { RunPass(); });
  FSweepTimer->setInterval(SweepPeriodMs);
  QObject::connect(FSweepTimer.get(), &QTimer::timeout,
                   [this] { Guarded([this] { EndStalled(GetTickCount()); }); });
  FSweepTimer->start();
}

TWebTraffic::~TWebTraffic() = default;

bool TWebTraffic::Admit(TWebSession& newcomer) {
  const TSessionList& connections = FServer.Connections();
  int same = 0;
  for (int i = 0; i < connections.Count(); ++i) same += connections[i]->Address() == newcomer.Address();
  if (connections.Count() <= MaxConnections && same <= MaxPerAddress) return true;
  newcomer.Row().SetSubItem(TSessionRow::StatusColumn, WebFullText);
  newcomer.Release();
  return false;
}

void TWebTraffic::SendLater(TWebSession& session) {
  if (std::find(FWaiting.begin(), FWaiting.end(), &session) == FWaiting.end()) FWaiting.push_back(&session);
  if (!FPassTimer->isActive()) FPassTimer->start(MsToNextPass());
}

// A download that starts after a quiet while is served at the next turn of
// the event loop; one that goes on waits for the rest of the period.
int TWebTraffic::MsToNextPass() const {
  const uint32_t since = GetTickCount() - FLastPass;
  return FLastPass == 0 || since >= PassPeriodMs ? 0 : static_cast<int>(PassPeriodMs - since);
}

void TWebTraffic::Forget(const TWebSession& session) { std::erase(FWaiting, &session); }

// Sessions are taken from the front one at a time, so that one that ends
// meanwhile (an error box runs the event loop) is never reached; one that
// has more to send goes to the back and may take another share of the
// same pass.  The period is read on the tick clock, so that the timer
// firing early (or a test's clock standing still) gives no extra pass.
void TWebTraffic::RunPass() {
  const uint32_t now = GetTickCount();
  if (FLastPass != 0 && now - FLastPass < PassPeriodMs) {
    FPassTimer->start(MsToNextPass());
    return;
  }
  FLastPass = now;
  for (int shares = 0; shares < SharesPerPass && !FWaiting.empty(); ++shares) {
    TWebSession* session = FWaiting.front();
    FWaiting.erase(FWaiting.begin());
    Guarded(*session, [session] { session->SendShare(); });
  }
  if (!FWaiting.empty() && !FPassTimer->isActive()) FPassTimer->start(static_cast<int>(PassPeriodMs));
}

void TWebTraffic::EndStalled(uint32_t now) {
  TSessionList& connections = FServer.Connections();
  // From the end: a release moves only the sessions after it.
  for (int i = connections.Count() - 1; i >= 0; --i) {
    auto* session = static_cast<TWebSession*>(connections[i]);
    if (!session->Stalled(now)) continue;
    session->Row().SetSubItem(TSessionRow::StatusColumn, TimedOutText);
    session->Release();
  }
}
