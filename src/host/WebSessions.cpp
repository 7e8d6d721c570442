#include "host/WebSessions.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <array>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Text1252.h"

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

const std::string PageHead = "<html><head><title>VAROzuvod v1.0</title></head><body bgcolor=#c0c0c0>";
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

}  // namespace

std::string SizeText(int64_t size) {
  if (size < BytesPerKilo) return std::to_string(size) + " octets";
  int64_t kilo = size / BytesPerKilo;
  if (kilo < BytesPerKilo) return std::to_string(kilo) + " Ko";
  return std::to_string(kilo / BytesPerKilo) + " Mo";
}

TWebSession::TWebSession(TServer& server, TSocketHandle listening, TSessionListView& list)
    : TSessionItem(server, listening), FListView(list) {
  FIO = std::make_unique<TWebSocketIO>(Handle());
  FRow = list.AddRow(this, Address(), {"(web)", "connexion", "00:00:00"});
}

TWebSession::~TWebSession() {
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
  SendPage();
}

void TWebSession::WriteHeader(const std::string& status) {
  FIO->WriteLine(status);
  FIO->WriteLine(HtmlContentType);
  FIO->WriteLine(PageHead);
}

void TWebSession::SendPage() {
  WriteHeader("HTTP/1.0 200 OK");
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
  FIO->WriteLine("</body></html>");
  SendText();
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
  if (!FPeerClosed) return FIO->Flush();
  try {
    return FIO->Flush();
  } catch (...) {
    Release();
    throw;
  }
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
  char piece[FilePieceBytes];
  while (FRemaining > 0) {
    auto count = static_cast<std::streamsize>(std::min<int64_t>(FRemaining, FilePieceBytes));
    ReadBuffer(*FFileStream, piece, static_cast<std::size_t>(count));
    FRemaining -= count;
    FIO->Write(piece, static_cast<std::size_t>(count));
    if (!Flush()) return;
  }
  FFileStream.reset();
  // An empty file leaves its header unsent: no write event would ever come
  // for it, so it goes now.
  if (!FIO->OutBuffer().empty()) Flush();
  if (FIO->OutBuffer().empty()) Release();
}
