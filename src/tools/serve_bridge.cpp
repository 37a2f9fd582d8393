#include "serve_bridge.h"

#include "scpi_server.h"

#include <QCoreApplication>

namespace ctl {

namespace {

std::optional<QString> qtText(const std::optional<std::string> &text)
{
    if (!text)
        return std::nullopt;
    return QString::fromStdString(*text);
}

std::variant<ServeOptions, QString> optionsOf(const ServeRequest &request)
{
    return serveOptions(qtText(request.listen), request.readOnly, qtText(request.maxClients));
}

} // namespace

std::optional<std::string> serveOptionsError(const ServeRequest &request)
{
    const auto options = optionsOf(request);
    if (const QString *error = std::get_if<QString>(&options))
        return error->toStdString();
    return std::nullopt;
}

int serveRequest(const ServeRequest &request, evm::BoardSession &session, std::string &error,
                 const std::function<void(const std::string &)> &announce)
{
    const auto options = optionsOf(request);
    if (const QString *why = std::get_if<QString>(&options)) {
        error = why->toStdString();
        return 2;
    }
    // The server's event loop needs an application object; the tool itself has none.
    static int argc = 1;
    static char name[] = "evm5170ctl";
    static char *argv[] = {name, nullptr};
    std::optional<QCoreApplication> application;
    if (!QCoreApplication::instance())
        application.emplace(argc, argv);
    QString why;
    const int status = serveBoard(std::get<ServeOptions>(options), session, &why,
                                  [&announce](const QString &line) { announce(line.toStdString()); });
    error = why.toStdString();
    return status;
}

} // namespace ctl
