#include "tools/request-service/server.h"

#include <sys/socket.h>

#include <cstdio>
#include <httplib.h>

#include "tools/request-service/text_codec.h"

namespace ravelto::reqsvc {
namespace {

// httplib fixes the listen backlog at build time to a handful of
// connections; a burst of desks connecting at once would then see SYN
// retries. Linux lets a second listen() raise the backlog of a bound socket.
class WideServer : public httplib::Server {
 public:
  void Widen(int backlog) {
    const auto fd = svr_sock_.load();
    if (fd != INVALID_SOCKET) ::listen(fd, backlog);
  }
};

// The target for the request log, in UTF-8, with every "pass=" value hidden.
std::string LogTarget(std::string target) {
  for (std::size_t at = target.find("pass="); at != std::string::npos; at = target.find("pass=", at)) {
    at += 5;
    const auto end = target.find('&', at);
    target.replace(at, (end == std::string::npos ? target.size() : end) - at, "***");
  }
  return Cp1251ToUtf8(target);
}

void Apply(const Answer& a, httplib::Response& res) {
  res.status = a.status;
  if (!a.location.empty()) res.set_header("Location", a.location);
  res.set_content(a.body, a.content_type.c_str());
}

}  // namespace

struct HttpServer::Impl {
  Impl(RequestService& s, ServerConfig c) : service(s), config(std::move(c)) {}
  RequestService& service;
  ServerConfig config;
  WideServer server;
  int port = -1;
};

HttpServer::HttpServer(RequestService& service, ServerConfig config)
    : impl_(std::make_unique<Impl>(service, std::move(config))) {
  auto& svr = impl_->server;
  const int threads = std::max(1, impl_->config.threads);
  svr.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
  svr.set_keep_alive_max_count(static_cast<std::size_t>(std::max(1, impl_->config.keep_alive)));
  svr.set_keep_alive_timeout(2);
  svr.set_read_timeout(10);
  svr.set_write_timeout(10);
  svr.set_payload_max_length(64 * 1024);
  RequestService* s = &service;
  svr.Get(".*", [s](const httplib::Request& req, httplib::Response& res) { Apply(s->Get(req.target), res); });
  svr.Post("/", [s](const httplib::Request& req, httplib::Response& res) { Apply(s->PostForm(req.body), res); });
  // Answers httplib produced itself (unparseable request line, unknown
  // method, body too large) carry no body: give them a readable one.
  svr.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    std::string text;
    switch (res.status) {
      case 400:
        text = "Неверный запрос: строка запроса не разобрана (пробел или второй \"?\" в адресе?)";
        break;
      case 404: text = "Нет такой страницы"; break;
      case 405: text = "Метод не поддерживается"; break;
      case 413: text = "Слишком большой запрос"; break;
      case 414: text = "Слишком длинный адрес"; break;
      default: text = "Ошибка " + std::to_string(res.status); break;
    }
    res.set_content(Utf8ToCp1251(text), std::string(kTextCp1251).c_str());
    return httplib::Server::HandlerResponse::Handled;
  }));
  if (impl_->config.log) {
    svr.set_logger([](const httplib::Request& req, const httplib::Response& res) {
      const std::string line = LocalTimeText() + " " + std::to_string(res.status) + " " + req.method + " " +
                               LogTarget(req.target) + "\n";
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
    });
  }
  svr.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 500;
    res.set_content(Utf8ToCp1251("Внутренняя ошибка сервера заявок"), std::string(kTextCp1251).c_str());
  });
}

HttpServer::~HttpServer() = default;

bool HttpServer::Bind() {
  auto& c = impl_->config;
  if (c.port == 0) {
    impl_->port = impl_->server.bind_to_any_port(c.host);
  } else {
    impl_->port = impl_->server.bind_to_port(c.host, c.port) ? c.port : -1;
  }
  if (impl_->port <= 0) return false;
  impl_->server.Widen(c.backlog);
  return true;
}

int HttpServer::port() const { return impl_->port; }

void HttpServer::Run() { impl_->server.listen_after_bind(); }

void HttpServer::Stop() { impl_->server.stop(); }

}  // namespace ravelto::reqsvc
