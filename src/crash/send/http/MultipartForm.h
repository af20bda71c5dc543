#pragma once
// A multipart/form-data body: text fields, then files streamed from disk in 2048-byte pieces.
//
// The announced length is computed before any file is read, from the field texts and each
// file's size; the servers we talk to cut the body at that length, so it must equal what is
// sent byte for byte. Files that cannot be opened are left out before the length is computed.
// Field texts go as 8-bit iso-8859-1 when they can, else as Base64 of their UTF-8 bytes.
// Each form draws its own boundary, which none of its fields holds; a '"', CR or LF in a file or
// field name is written as %22, %0D or %0A, so no name ends its header line or its quotes.

#include "crash/send/http/RequestBody.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace crash::http {

struct FormFile
{
    QString path;
    QString sendAs;
    QString fieldName;
};

class MultipartForm : public RequestBody
{
public:
    MultipartForm();

    void addField(const QString& name, const QString& content);
    // Returns false (and leaves the file out) when it cannot be opened.
    bool addFile(const FormFile& file);

    int fileCount() const { return int(m_files.size()); }
    std::int64_t size() const override;
    std::int64_t read(char* buffer, std::int64_t max) override;
    bool rewind() override;

    // Called with (file index, thousandths of that file) while file bytes are read, and with 1000
    // when a file is done.
    void setFileProgress(std::function<void(int, int)> progress) { m_progress = std::move(progress); }

    QByteArray contentType() const;
    const QByteArray& boundary() const { return m_boundary; }

private:
    struct Segment
    {
        QByteArray text; // sent as it is
        int file = -1;   // or: the bytes of m_files[file]
    };
    struct OpenFile
    {
        FormFile file;
        std::unique_ptr<QFile> handle;
        std::int64_t size = 0;
    };

    void rebuildSegments() const;
    // Draws a new boundary when a part holds the current one.
    void keepBoundaryOutOfParts();

    QByteArray m_boundary;
    QList<QByteArray> m_fieldParts; // head and content of each field, after its boundary line
    std::vector<OpenFile> m_files;
    std::function<void(int, int)> m_progress;

    mutable std::vector<Segment> m_segments;
    mutable bool m_segmentsValid = false;
    std::size_t m_segment = 0;
    std::int64_t m_offset = 0; // inside the current segment
};

// Whether a text field must go as UTF-8 in Base64 (a character above 255, or "<").
bool FieldNeedsEncoding(const QString& content);

// A name as it stands between the quotes of a form-data header: '"', CR and LF as %22, %0D, %0A.
QByteArray EscapeFormName(const QByteArray& name);

} // namespace crash::http
