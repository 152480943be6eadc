// The internet transfer and the internet kind of the source layer, through
// Wine's own WININET.DLL against a small HTTP server of this test on
// 127.0.0.1 (a thread, on a port the system picks). The server notes each
// request line and User-Agent; the program's Retry/Cancel prompts are
// answered by a second thread (WindowDriver), which also notes their texts.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/setup_app.h"
#include "check.h"
#include "source/internet.h"
#include "source/source_files.h"
#include "window_driver.h"

namespace {

using namespace qor;

const std::string kAgent = "Qor_Vex_98 Setup Session";

// What the server answers for one path.
struct Route {
  const char* path;
  const char* status;    // "200 OK", "404 Not Found", ...
  std::string body;
  const char* extra;     // further header lines, each ending in \r\n
};

// An HTTP/1.1 server on 127.0.0.1 that answers one request per connection
// from its routes (404 with an error page for any other path) and closes it.
class HttpServer {
 public:
  explicit HttpServer(std::vector<Route> routes) : routes_(std::move(routes)) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listen(listener_, 8);
    InitializeCriticalSection(&lock_);
    thread_ = CreateThread(nullptr, 0, &HttpServer::Main, this, 0, nullptr);
  }
  ~HttpServer() {
    closesocket(listener_);  // ends the accept loop
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    DeleteCriticalSection(&lock_);
    WSACleanup();
  }
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  // "GET /path HTTP/1.1" of every request so far, and their User-Agent lines.
  std::vector<std::string> Requests() {
    EnterCriticalSection(&lock_);
    std::vector<std::string> copy = requests_;
    LeaveCriticalSection(&lock_);
    return copy;
  }
  std::vector<std::string> Agents() {
    EnterCriticalSection(&lock_);
    std::vector<std::string> copy = agents_;
    LeaveCriticalSection(&lock_);
    return copy;
  }

 private:
  static DWORD WINAPI Main(void* self) {
    static_cast<HttpServer*>(self)->Serve();
    return 0;
  }

  void Serve() {
    for (;;) {
      SOCKET c = accept(listener_, nullptr, nullptr);
      if (c == INVALID_SOCKET) return;
      Answer(c);
      closesocket(c);
    }
  }

  static std::string Header(const std::string& request, const char* name) {
    std::size_t at = request.find(std::string("\r\n") + name + ": ");
    if (at == std::string::npos) return "";
    at += std::strlen(name) + 4;
    return request.substr(at, request.find("\r\n", at) - at);
  }

  void Answer(SOCKET c) {
    std::string request;
    char buf[1024];
    while (request.find("\r\n\r\n") == std::string::npos) {
      int n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) return;
      request.append(buf, static_cast<std::size_t>(n));
    }
    std::string line = request.substr(0, request.find("\r\n"));
    EnterCriticalSection(&lock_);
    requests_.push_back(line);
    agents_.push_back(Header(request, "User-Agent"));
    LeaveCriticalSection(&lock_);
    Route answer = {"", "404 Not Found", "<html><body>404 Not Found</body></html>", ""};
    for (const Route& r : routes_) {
      if (line == std::string("GET ") + r.path + " HTTP/1.1") answer = r;
    }
    std::string reply = std::string("HTTP/1.1 ") + answer.status + "\r\nContent-Length: " +
                        std::to_string(answer.body.size()) + "\r\nConnection: close\r\n" + answer.extra + "\r\n" +
                        answer.body;
    send(c, reply.data(), static_cast<int>(reply.size()), 0);
  }

  std::vector<Route> routes_;
  SOCKET listener_;
  unsigned short port_ = 0;
  HANDLE thread_;
  CRITICAL_SECTION lock_;
  std::vector<std::string> requests_, agents_;
};

// Answers every prompt with the next of the given buttons (Cancel once they
// are used up) and notes its text.
struct Prompts {
  explicit Prompts(std::vector<int> answers = {})
      : answers_(std::move(answers)), driver([this](HWND box) {
          texts.push_back(qortest::WindowText(box, 0xFFFF));
          std::size_t i = texts.size() - 1;
          return i < answers_.size() ? answers_[i] : IDCANCEL;
        }) {}
  std::vector<int> answers_;
  std::vector<std::string> texts;
  qortest::WindowDriver driver;
};

// The library bound for the time of a case, as the program binds it.
struct BoundLibrary {
  BoundLibrary() { bound = BindInternetLibrary() == 1; }
  ~BoundLibrary() { UnbindInternetLibrary(); }
  bool bound;
};

std::string ReadAll(HINTERNET request) {
  std::string out;
  char buf[1024];
  while (std::uint32_t n = ReadUrlRequest(request, buf, sizeof buf)) out.append(buf, n);
  return out;
}

std::string CannotFetch(const std::string& url) {
  return "Nie można pobrać pliku:\n" + url + "\nCzy chcesz powtórzyć próbę?";
}

// Temporary copies ("fol" files) in the temporary folder.
int TemporaryCopies() {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((std::string(dir) + "fol*.tmp").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n;
  while (FindNextFileA(h, &found));
  FindClose(h);
  return n;
}

std::string Pattern(std::size_t size) {
  std::string s(size, 0);
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

TEST_CASE(InternetLibraryBindsWineOwnWithItsOptionalStatusQuery) {
  BoundLibrary library;
  REQUIRE(library.bound);
  CHECK(InternetLibraryAvailable());
  CHECK(InternetEntries().httpQueryInfoA != nullptr);
}

TEST_CASE(InternetRequestsDeliverTheFileOrAskWhetherToRetry) {
  const std::string page = Pattern(5000);
  HttpServer server({{"/ok", "200 OK", page, ""},
                     {"/moved", "302 Found", "moved", "Location: /ok\r\n"},
                     {"/fault", "500 Internal Server Error", "<html>fault</html>", ""},
                     {"/forbidden", "403 Forbidden", "<html>no</html>", ""},
                     {"/teapot", "399 Unusual", "still a file", ""}});
  BoundLibrary library;
  REQUIRE(library.bound);
  Prompts prompts;
  HINTERNET session = OpenInternetSession();
  REQUIRE(session != nullptr);

  // path, what the request must read (empty: it must fail after one prompt)
  struct Case {
    const char* path;
    std::string body;
  } cases[] = {
      {"/ok", page},                    // the file, byte for byte
      {"/moved", page},                 // a redirection is followed to the file
      {"/teapot", "still a file"},      // below 400 the answer is the file
      {"/missing", ""},                 // 404: the server's error page is not the file
      {"/forbidden", ""},               // 403
      {"/fault", ""},                   // 500
  };
  for (const Case& c : cases) {
    std::size_t before = prompts.texts.size();
    HINTERNET request = OpenUrlRequest(session, server.Url(c.path));
    if (c.body.empty()) {
      CHECK(request == nullptr) << c.path;
      REQUIRE_EQ(prompts.texts.size(), before + 1) << c.path;
      CHECK_EQ(prompts.texts.back(), CannotFetch(server.Url(c.path)));
    } else {
      REQUIRE(request != nullptr) << c.path;
      CHECK_EQ(prompts.texts.size(), before) << c.path;
      CHECK(ReadAll(request) == c.body) << c.path;
      CloseInternetHandle(request);
    }
  }
  CloseInternetHandle(session);
  for (const std::string& agent : server.Agents()) CHECK_EQ(agent, kAgent);
}

TEST_CASE(InternetRequestRetriesTheSameUrlUntilCancelled) {
  HttpServer server({});
  BoundLibrary library;
  Prompts prompts({IDRETRY, IDRETRY});  // then Cancel
  HINTERNET session = OpenInternetSession();
  REQUIRE(session != nullptr);
  CHECK(OpenUrlRequest(session, server.Url("/setup.dat")) == nullptr);
  CloseInternetHandle(session);
  CHECK_EQ(prompts.texts.size(), 3u);
  for (const std::string& text : prompts.texts) CHECK_EQ(text, CannotFetch(server.Url("/setup.dat")));
  std::vector<std::string> requests = server.Requests();
  CHECK_EQ(requests.size(), 3u);
  for (const std::string& line : requests) CHECK_EQ(line, std::string("GET /setup.dat HTTP/1.1"));
}

TEST_CASE(InternetRequestToAClosedPortAsksWithTheUrl) {
  // A port nobody listens on any more: the connection is refused.
  std::string url;
  {
    HttpServer gone({});
    url = gone.Url("/setup/qor_vex/win98/setup.dat");
  }
  BoundLibrary library;
  Prompts prompts({IDRETRY});  // then Cancel
  HINTERNET session = OpenInternetSession();
  REQUIRE(session != nullptr);
  CHECK(OpenUrlRequest(session, url) == nullptr);
  CloseInternetHandle(session);
  REQUIRE_EQ(prompts.texts.size(), 2u);
  CHECK_EQ(prompts.texts[0], CannotFetch(url));
  CHECK_EQ(prompts.texts[1], CannotFetch(url));
}

TEST_CASE(InternetReadFailureIsOfferedForRetryAndCancelEndsTheFile) {
  // Reading through a handle that is no request fails in the library itself.
  BoundLibrary library;
  REQUIRE(library.bound);
  Prompts prompts({IDRETRY});  // then Cancel
  char buf[1024];
  CHECK_EQ(ReadUrlRequest(reinterpret_cast<HINTERNET>(0x7777), buf, sizeof buf), 0u);
  REQUIRE_EQ(prompts.texts.size(), 2u);
  for (const std::string& text : prompts.texts)
    CHECK_EQ(text, std::string("Wystąpił problem podczas pobierania pliku.\nCzy chcesz powtórzyć próbę?"));
}

TEST_CASE(InternetSessionWithoutTheLibraryIsAskedForAndCancelled) {
  // Unbound: the call is skipped, and the user is asked to connect.
  UnbindInternetLibrary();
  Prompts prompts({IDRETRY});  // then Cancel
  CHECK(OpenInternetSession() == nullptr);
  REQUIRE_EQ(prompts.texts.size(), 2u);
  CHECK_EQ(prompts.texts[0], std::string("Nie można połączyć się z Internetem.\nWybierz powtórzenie operacji, "
                                         "jeżeli\nchcesz powtórzyć próbę połączenia\nlub połączysz się poza "
                                         "programem."));
}

TEST_CASE(InternetSourceReadsScriptsStraightAndFilesThroughCheckedTemporaryCopies) {
  const std::string script = Pattern(3000);
  const std::string product = Pattern(70000);  // not SZDD: expanded as stored
  HttpServer server({{"/kit/setup.dat", "200 OK", script, ""}, {"/kit/product.ex_", "200 OK", product, ""}});
  BoundLibrary library;
  REQUIRE(library.bound);
  Prompts prompts;
  SetupApp app;
  app.sourceKind = kSourceInternet;
  app.internetPath = server.Url("/kit");
  REQUIRE_EQ(OpenSource(app), 1);
  REQUIRE(app.source.internetSession != nullptr);
  const int copiesBefore = TemporaryCopies();

  // setup.dat, as stored: straight from its request, no temporary copy.
  int h = OpenSourceFile(app, SourceFilePath(app, "setup.dat"), SourceReading::kAsStored, 0, nullptr);
  REQUIRE(h >= 0);
  CHECK_EQ(TemporaryCopies(), copiesBefore);
  CHECK_EQ(SourceFileSize(app, h), 0u);
  std::string got;
  char buf[1024];
  while (std::uint32_t n = ReadSourceFile(app, h, buf, sizeof buf)) got.append(buf, n);
  CHECK(got == script);
  CloseSourceFile(app, h);

  // A product file, expanded: through a temporary copy while it is open,
  // whose size must match a non-zero expected size.
  struct Case {
    std::uint32_t expected;
    bool opens;
  } cases[] = {{static_cast<std::uint32_t>(product.size()), true},
               {0, true},  // no size in the table: any length
               {static_cast<std::uint32_t>(product.size() + 1), false}};
  for (const Case& c : cases) {
    h = OpenSourceFile(app, SourceFilePath(app, "product.ex_"), SourceReading::kExpanded, c.expected, nullptr);
    if (!c.opens) {
      CHECK_EQ(h, -1) << "expected size " << c.expected;
      CHECK_EQ(TemporaryCopies(), copiesBefore) << "the copy is deleted";
      continue;
    }
    REQUIRE(h >= 0) << "expected size " << c.expected;
    CHECK_EQ(TemporaryCopies(), copiesBefore + 1);
    CHECK_EQ(SourceFileSize(app, h), product.size());
    got.clear();
    while (std::uint32_t n = ReadSourceFile(app, h, buf, sizeof buf)) got.append(buf, n);
    CHECK(got == product) << "expected size " << c.expected;
    CloseSourceFile(app, h);
    CHECK_EQ(TemporaryCopies(), copiesBefore);
  }
  CHECK(prompts.texts.empty());

  CloseSource(app);
  CHECK(app.source.internetSession == nullptr);
  // Without a session every open fails at once, without a request.
  std::size_t requests = server.Requests().size();
  CHECK_EQ(OpenSourceFile(app, SourceFilePath(app, "setup.dat"), SourceReading::kAsStored, 0, nullptr), -1);
  CHECK_EQ(server.Requests().size(), requests);
  for (const std::string& agent : server.Agents()) CHECK_EQ(agent, kAgent);
}

}  // namespace
