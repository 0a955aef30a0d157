// A PostgreSQL server of its own for a test or benchmark: initdb into a
// temporary folder, then pg_ctl on a free local port, with its socket in
// that folder. The server refuses to run as root, so under root (as in CI)
// every server command runs as the postgres system user that Debian's
// package creates, and the folder is handed to it.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <pwd.h>
#include <unistd.h>

class PostgresServer
{
  public:
    // The superuser that stations log in as, with a password (checked with
    // scram-sha-256 over TCP, so a wrong password is refused).
    QString user() const { return QStringLiteral("station"); }
    QString password() const { return QStringLiteral("Sp00l-p@ss:w0rd"); }
    int port() const { return port_; }
    QString error() const { return error_; }

    ~PostgresServer()
    {
        if (started_)
            run(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("immediate"),
                 QStringLiteral("-w"), QStringLiteral("stop")});
    }

    // `settings` are extra server settings ("fsync=off" and the like).
    bool start(const QStringList &settings = {})
    {
        if (!findBinaries() || !prepareFolder() || !initialise())
            return false;
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost)) {
            error_ = QStringLiteral("no free local port");
            return false;
        }
        port_ = probe.serverPort();
        probe.close();
        QStringList options{QStringLiteral("-p %1").arg(port_), QStringLiteral("-k ") + tmp_.path(),
                            QStringLiteral("-c listen_addresses=127.0.0.1")};
        for (const QString &setting : settings)
            options << QStringLiteral("-c ") + setting;
        options_ = options.join(QLatin1Char(' '));
        return resume();
    }
    // Stops it the way a restart or crash of a plant's server would look
    // to a station: connections are cut at once.
    bool stop()
    {
        started_ = false;
        return run(QStringLiteral("pg_ctl"),
                   {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("fast"),
                    QStringLiteral("-w"), QStringLiteral("stop")});
    }
    bool resume()
    {
        started_ = run(QStringLiteral("pg_ctl"),
                       {QStringLiteral("-D"), dataDir(), QStringLiteral("-o"), options_,
                        QStringLiteral("-l"), tmp_.filePath(QStringLiteral("server.log")),
                        QStringLiteral("-w"), QStringLiteral("start")});
        return started_;
    }

    // A URL for `database` with the right password in it.
    QString url(const QString &database) const { return url(database, password()); }
    // A URL with the given password; none when it is empty.
    QString url(const QString &database, const QString &password) const
    {
        QUrl url;
        url.setScheme(QStringLiteral("postgresql"));
        url.setUserName(user());
        url.setPassword(password);
        url.setHost(QStringLiteral("127.0.0.1"));
        url.setPort(port_);
        url.setPath(QLatin1Char('/') + database);
        return url.toString(QUrl::FullyEncoded);
    }

    bool createDatabase(const QString &name)
    {
        const QString connection = QStringLiteral("postgres-admin");
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
            db.setHostName(QStringLiteral("127.0.0.1"));
            db.setPort(port_);
            db.setUserName(user());
            db.setPassword(password());
            db.setDatabaseName(QStringLiteral("postgres"));
            // Names come from the test itself; CREATE DATABASE takes no
            // bound values.
            ok =
                db.open() && QSqlQuery(db).exec(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
            if (!ok)
                error_ = db.lastError().text();
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        return ok;
    }

  private:
    QString dataDir() const { return tmp_.filePath(QStringLiteral("data")); }

    bool findBinaries()
    {
        const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                         .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &version : versions) {
            const QString dir = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
            if (QFile::exists(dir + QStringLiteral("/initdb")))
                binDir_ = dir;
        }
        if (binDir_.isEmpty())
            error_ = QStringLiteral("no PostgreSQL server under /usr/lib/postgresql/*/bin: "
                                    "install the postgresql package (dev.sh does)");
        return !binDir_.isEmpty();
    }

    // Under root, the folder and everything in it go to the postgres user.
    bool prepareFolder()
    {
        if (!tmp_.isValid()) {
            error_ = QStringLiteral("no temporary folder");
            return false;
        }
        QFile pw(tmp_.filePath(QStringLiteral("pw")));
        if (!pw.open(QIODevice::WriteOnly) || pw.write(password().toUtf8() + '\n') < 0)
            return false;
        pw.close();
        if (geteuid() != 0)
            return true;
        const passwd *account = getpwnam("postgres");
        if (!account) {
            error_ = QStringLiteral("running as root, but there is no postgres user to run the "
                                    "server as (the postgresql package creates it)");
            return false;
        }
        const QByteArray path = QFile::encodeName(tmp_.path());
        const QByteArray pwPath = QFile::encodeName(pw.fileName());
        return chown(path.constData(), account->pw_uid, account->pw_gid) == 0 &&
               chown(pwPath.constData(), account->pw_uid, account->pw_gid) == 0;
    }

    bool initialise()
    {
        return run(QStringLiteral("initdb"),
                   {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), user(),
                    QStringLiteral("--pwfile=") + tmp_.filePath(QStringLiteral("pw")),
                    QStringLiteral("--auth-local=trust"),
                    QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-E"),
                    QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                    QStringLiteral("--no-sync")});
    }

    bool run(const QString &tool, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QString program = binDir_ + QLatin1Char('/') + tool;
        if (geteuid() == 0)
            process.start(QStringLiteral("runuser"),
                          QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                      QStringLiteral("--"), program} +
                              arguments);
        else
            process.start(program, arguments);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            error_ = QStringLiteral("%1 failed: %2")
                         .arg(tool, QString::fromLocal8Bit(process.readAll()));
            return false;
        }
        return true;
    }

    QTemporaryDir tmp_;
    QString binDir_;
    QString options_;
    QString error_;
    int port_ = 0;
    bool started_ = false;
};
