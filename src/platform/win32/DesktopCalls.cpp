#include "win32/DesktopCalls.h"

#include "afx/QtBridge.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QVariantMap>

#include <memory>

namespace vimo::platform {
namespace {

// A service that is there answers a call at once; one being started by the bus takes a few
// seconds. What has not answered by then is taken as missing.
constexpr int kCallTimeoutMs = 10000;

void AnswerLater(DesktopDone done, DesktopAnswer answer, std::string detail) {
  QTimer::singleShot(0, QCoreApplication::instance(),
                     [done = std::move(done), answer, detail = std::move(detail)] { done(answer, detail); });
}

// Texts handed to the desktop as Qt strings must be UTF-8 to arrive as they are; anything else is
// refused (answered later) rather than handed over changed. True when all of them are.
bool AllUtf8(const std::vector<std::string>& texts, DesktopDone& done) {
  for (const std::string& text : texts) {
    if (AfxEncodingOf(text.c_str()) == AfxTextEncoding::Utf8) continue;
    AnswerLater(std::move(done), DesktopAnswer::Failed, "a name that is not UTF-8 cannot be handed to the desktop");
    return false;
  }
  return true;
}

// A failed call: a service, object, interface or method that is not there is no service at all
// (the desktop may still have a way of its own); anything else is the service's failure.
DesktopAnswer AnswerOfError(const QDBusError& error) {
  switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::Disconnected:
      return DesktopAnswer::NoService;
    default:
      return DesktopAnswer::Failed;
  }
}

std::string DetailOf(const QDBusError& error) { return (error.name() + ": " + error.message()).toStdString(); }

// Calls a method and hands its reply (or error) to then, on the user-interface thread.
void CallAsync(const QDBusMessage& call, std::function<void(const QDBusMessage& reply)> then) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  auto* pWatcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), QCoreApplication::instance());
  QObject::connect(pWatcher, &QDBusPendingCallWatcher::finished, pWatcher,
                   [then = std::move(then)](QDBusPendingCallWatcher* pCall) {
                     pCall->deleteLater();
                     then(pCall->reply());
                   });
}

bool HasBus(const DesktopDone& done) {
  if (QDBusConnection::sessionBus().isConnected()) return true;
  AnswerLater(done, DesktopAnswer::NoService, "no session bus");
  return false;
}

}  // namespace

// Waits for the Response of one portal request, then answers and goes.
class PortalRequest : public QObject {
  Q_OBJECT

 public:
  explicit PortalRequest(DesktopDone done) : QObject(QCoreApplication::instance()), m_done(std::move(done)) {}

  bool Listen(const QString& path) {
    if (path == m_path) return true;
    m_path = path;
    return QDBusConnection::sessionBus().connect(QString(), path, "org.freedesktop.portal.Request", "Response", this,
                                                 SLOT(OnResponse(uint, QVariantMap)));
  }

  void Finish(DesktopAnswer answer, const std::string& detail) {
    if (!m_done) return;
    const DesktopDone done = std::move(m_done);
    m_done = nullptr;
    QDBusConnection::sessionBus().disconnect(QString(), m_path, "org.freedesktop.portal.Request", "Response", this,
                                             SLOT(OnResponse(uint, QVariantMap)));
    deleteLater();
    done(answer, detail);
  }

 public slots:
  // 0: done; 1: the user cancelled; 2: the request ended otherwise.
  void OnResponse(uint nResponse, const QVariantMap& /*results*/) {
    if (nResponse == 0) Finish(DesktopAnswer::Done, {});
    else if (nResponse == 1) Finish(DesktopAnswer::Cancelled, {});
    else Finish(DesktopAnswer::Failed, "the portal could not set the wallpaper");
  }

 private:
  DesktopDone m_done;
  QString m_path;
};

void PortalSetWallpaper(const std::string& uri, DesktopDone done) {
  if (!AllUtf8({uri}, done) || !HasBus(done)) return;
  static unsigned s_nRequests = 0;
  const QString token = QStringLiteral("vimo%1").arg(++s_nRequests);
  // The request's path is known before the call, so its Response is listened for before it can
  // come; a portal that names another path is listened to there too.
  const QString sender = QDBusConnection::sessionBus().baseService().mid(1).replace('.', '_');
  auto* pRequest = new PortalRequest(std::move(done));
  pRequest->Listen("/org/freedesktop/portal/desktop/request/" + sender + "/" + token);
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                                     "org.freedesktop.portal.Wallpaper", "SetWallpaperURI");
  const QVariantMap options{{"handle_token", token}, {"show-preview", false}, {"set-on", QStringLiteral("background")}};
  call << QString() << QString::fromStdString(uri) << options;
  // The Response may come before the reply: by then the request has answered and gone.
  CallAsync(call, [pRequest = QPointer<PortalRequest>(pRequest)](const QDBusMessage& reply) {
    if (pRequest.isNull()) return;
    if (reply.type() == QDBusMessage::ErrorMessage) {
      const QDBusError error(reply);
      pRequest->Finish(AnswerOfError(error), DetailOf(error));
      return;
    }
    const QList<QVariant> values = reply.arguments();
    if (!values.isEmpty()) pRequest->Listen(values.first().value<QDBusObjectPath>().path());
  });
}

void PlasmaEvaluateScript(const std::string& script, DesktopDone done) {
  if (!AllUtf8({script}, done) || !HasBus(done)) return;
  QDBusMessage call = QDBusMessage::createMethodCall("org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell", "evaluateScript");
  call << QString::fromStdString(script);
  CallAsync(call, [done = std::move(done)](const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ErrorMessage) return done(DesktopAnswer::Done, {});
    const QDBusError error(reply);
    done(AnswerOfError(error), DetailOf(error));
  });
}

void XfconfSetEach(const std::string& channel, const std::string& suffix, const std::string& value, DesktopDone done) {
  if (!AllUtf8({channel, suffix, value}, done) || !HasBus(done)) return;
  const QString qChannel = QString::fromStdString(channel);
  QDBusMessage list = QDBusMessage::createMethodCall("org.xfce.Xfconf", "/org/xfce/Xfconf", "org.xfce.Xfconf", "GetAllProperties");
  list << qChannel << QStringLiteral("/");
  CallAsync(list, [qChannel, suffix = QString::fromStdString(suffix), value = QString::fromStdString(value),
                   done = std::move(done)](const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ErrorMessage) {
      const QDBusError error(reply);
      return done(AnswerOfError(error), DetailOf(error));
    }
    QStringList properties;
    if (!reply.arguments().isEmpty()) {
      const QVariantMap all = qdbus_cast<QVariantMap>(reply.arguments().first());
      for (auto it = all.begin(); it != all.end(); ++it)
        if (it.key().endsWith(suffix)) properties << it.key();
    }
    if (properties.isEmpty()) return done(DesktopAnswer::Failed, "the desktop names no picture to replace");
    // Answers once every property has answered: Done when all were set.
    auto pending = std::make_shared<int>(static_cast<int>(properties.size()));
    auto failure = std::make_shared<std::string>();
    for (const QString& property : properties) {
      QDBusMessage set = QDBusMessage::createMethodCall("org.xfce.Xfconf", "/org/xfce/Xfconf", "org.xfce.Xfconf", "SetProperty");
      set << qChannel << property << QVariant::fromValue(QDBusVariant(value));
      CallAsync(set, [pending, failure, done](const QDBusMessage& setReply) {
        if (setReply.type() == QDBusMessage::ErrorMessage) *failure = DetailOf(QDBusError(setReply));
        if (--*pending == 0) done(failure->empty() ? DesktopAnswer::Done : DesktopAnswer::Failed, *failure);
      });
    }
  });
}

void RunDesktopTool(const std::vector<std::string>& argv, DesktopDone done) {
  if (argv.empty()) return AnswerLater(std::move(done), DesktopAnswer::NoService, "no program");
  if (!AllUtf8(argv, done)) return;
  auto* pProcess = new QProcess(QCoreApplication::instance());
  QStringList arguments;
  for (std::size_t i = 1; i < argv.size(); ++i) arguments << QString::fromStdString(argv[i]);
  pProcess->setProgram(QString::fromStdString(argv[0]));
  pProcess->setArguments(arguments);
  pProcess->setStandardOutputFile(QProcess::nullDevice());
  pProcess->setStandardInputFile(QProcess::nullDevice());
  auto shared = std::make_shared<DesktopDone>(std::move(done));
  QObject::connect(pProcess, &QProcess::errorOccurred, pProcess, [pProcess, shared](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart || !*shared) return;
    const DesktopDone answer = std::move(*shared);
    *shared = nullptr;
    pProcess->deleteLater();
    answer(DesktopAnswer::NoService, pProcess->program().toStdString() + " cannot be started");
  });
  QObject::connect(pProcess, &QProcess::finished, pProcess, [pProcess, shared](int nExitCode, QProcess::ExitStatus status) {
    if (!*shared) return;
    const DesktopDone answer = std::move(*shared);
    *shared = nullptr;
    pProcess->deleteLater();
    const bool bDone = status == QProcess::NormalExit && nExitCode == 0;
    answer(bDone ? DesktopAnswer::Done : DesktopAnswer::Failed,
           bDone ? std::string() : pProcess->readAllStandardError().trimmed().toStdString());
  });
  pProcess->start();
}

}  // namespace vimo::platform

#include "DesktopCalls.moc"
