#pragma once
// The ordinary ini file on the private-profile functions; the program's own settings files use
// it. A write that fails raises "Unable to write to <file>"; releasing the object flushes the file.

#include "env/TCustomIniFile.h"

namespace env {

class TIniFile : public TCustomIniFile
{
public:
    explicit TIniFile(QString fileName) : TCustomIniFile(std::move(fileName)) {}
    ~TIniFile() override;

    QString ReadString(const QString& section, const QString& ident,
                       const QString& defaultValue) const override;
    void WriteString(const QString& section, const QString& ident, const QString& value) override;
    QStringList ReadSection(const QString& section) const override;
    QStringList ReadSections() const override;
    void EraseSection(const QString& section) override;
    void DeleteKey(const QString& section, const QString& ident) override;
    void UpdateFile() override;

protected:
    [[noreturn]] void RaiseWriteError() const;
    // A zero-separated list of the profile functions, read with a buffer grown until it fits.
    QStringList ReadList(const QString* section) const;
};

} // namespace env
