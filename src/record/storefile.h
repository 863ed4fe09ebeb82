#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// What the files this program keeps for the user (the port map, the display
// record) have in common: a file is read only when it is a readable regular
// file of sensible size, a change is made by one program at a time, and a
// warning about bad entries stays one short line.
namespace StoreFile {

// Why the file at `path` is not read at all ("...: 80000 bytes, too big for a
// port map (at most 65536); the saved port map is ignored"), or nullopt when
// it may be read. A missing file may be read: it is empty. `what` names the
// contents ("port map").
std::optional<QString> refusal(const QString &path, qint64 maxSize, const QString &what);

// "a, b, c and 4 more".
QString someOf(const QStringList &items, int named);

// What a reading ignored, in one line naming the file: why the whole file
// was (`wholeFile`: the first of `ignored`), or "PATH: ignored a, b and 3
// more"; empty when nothing was.
QString warning(const QString &path, const QStringList &ignored, bool wholeFile, int named);

// Held while a program reads, changes and writes the file at `path`: two
// programs saving at once would each write back what they read, and one
// entry would go. The lock is a file beside it (PATH.saving).
class Lock {
public:
    explicit Lock(const QString &path);
    // Creates the folder if need be, then waits a while for another
    // program's save. Returns why it could not, or an empty string.
    [[nodiscard]] QString take();

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

}  // namespace StoreFile
