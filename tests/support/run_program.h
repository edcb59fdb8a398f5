#pragma once
// Runs one of the project's programs (or any command) to its end, for the
// tests that drive them as a script would.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>

namespace qova {

struct Finished {
  int status;  // the exit status; -1 when the program crashed or did not end in time
  std::string out, err;
};

inline Finished RunProgram(
    const QString& program, const QStringList& args, const std::filesystem::path& folder,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
    int timeoutMs = 120000) {
  QProcess p;
  p.setProgram(program);
  p.setArguments(args);
  p.setWorkingDirectory(QString::fromStdString(folder.string()));
  p.setProcessEnvironment(env);
  p.start();
  p.waitForFinished(timeoutMs);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

}  // namespace qova
