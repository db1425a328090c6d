#include "ui/qt/SecretStore.h"

#include <qt6keychain/keychain.h>

namespace kv {

namespace {

std::string errorOf(const QKeychain::Job* job)
{
    if (job->error() == QKeychain::NoError)
        return {};
    const std::string text = job->errorString().toStdString();
    return text.empty() ? "ошибка хранилища паролей " + std::to_string(static_cast<int>(job->error())) : text;
}

}  // namespace

void TQtSecretStore::Read(const std::string& key, TRead done)
{
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kService));
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(QString::fromStdString(key));
    QObject::connect(job, &QKeychain::Job::finished, job, [done = std::move(done)](QKeychain::Job* j) {
        auto* read = static_cast<QKeychain::ReadPasswordJob*>(j);
        if (j->error() == QKeychain::EntryNotFound)
            done(false, {}, {});
        else if (j->error() != QKeychain::NoError)
            done(false, {}, errorOf(j));
        else
            done(true, read->textData().toStdString(), {});
    });
    job->start();
}

void TQtSecretStore::Write(const std::string& key, const std::string& value, TDone done)
{
    auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(kService));
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(QString::fromStdString(key));
    job->setTextData(QString::fromStdString(value));
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [done = std::move(done)](QKeychain::Job* j) { done(errorOf(j)); });
    job->start();
}

void TQtSecretStore::Remove(const std::string& key, TDone done)
{
    auto* job = new QKeychain::DeletePasswordJob(QString::fromLatin1(kService));
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(QString::fromStdString(key));
    QObject::connect(job, &QKeychain::Job::finished, job, [done = std::move(done)](QKeychain::Job* j) {
        done(j->error() == QKeychain::EntryNotFound ? std::string() : errorOf(j));
    });
    job->start();
}

}  // namespace kv
