#include "crash/send/http/MultipartForm.h"

#include <algorithm>
#include <cstring>

namespace crash::http {

namespace {

constexpr std::int64_t kPiece = 2048;

QByteArray Boundary()
{
    return QByteArray(kMultipartBoundary);
}

QByteArray EncodedName(const QString& name)
{
    if (!FieldNeedsEncoding(name))
        return name.toLatin1();
    return "=?UTF-8?B?" + name.toUtf8().toBase64() + "?=";
}

QByteArray FilePartHead(const FormFile& file)
{
    return "\r\n--" + Boundary() + "\r\nContent-Disposition: form-data; name=\"" + EncodedName(file.fieldName) +
           "\"; filename=\"" + file.sendAs.toUtf8() + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

} // namespace

std::int64_t BufferBody::read(char* buffer, std::int64_t max)
{
    const std::int64_t n = std::min<std::int64_t>(max, m_data.size() - m_position);
    if (n > 0)
        std::memcpy(buffer, m_data.constData() + m_position, size_t(n));
    m_position += std::max<std::int64_t>(n, 0);
    return std::max<std::int64_t>(n, 0);
}

bool FieldNeedsEncoding(const QString& content)
{
    for (const QChar c : content)
        if (c.unicode() > 255 || c == QLatin1Char('<'))
            return true;
    return false;
}

QByteArray MultipartForm::contentType()
{
    return "multipart/form-data; boundary=" + Boundary();
}

void MultipartForm::addField(const QString& name, const QString& content)
{
    const bool encode = FieldNeedsEncoding(content);
    m_fieldText += "\r\n--" + Boundary() + "\r\nContent-Disposition: form-data; name=\"" + EncodedName(name) +
                   "\"\r\nContent-Type: text/plain; charset=\"" + (encode ? "utf-8" : "iso-8859-1") +
                   "\"\r\nContent-Transfer-Encoding: " + (encode ? "base64" : "8bit") + "\r\n\r\n" +
                   (encode ? content.toUtf8().toBase64() : content.toLatin1());
    m_segmentsValid = false;
}

bool MultipartForm::addFile(const FormFile& file)
{
    auto handle = std::make_unique<QFile>(file.path);
    if (!handle->open(QIODevice::ReadOnly))
        return false;
    const std::int64_t size = handle->size();
    m_files.push_back({file, std::move(handle), size});
    m_segmentsValid = false;
    return true;
}

void MultipartForm::rebuildSegments() const
{
    if (m_segmentsValid)
        return;
    m_segments.clear();
    m_segments.push_back({m_fieldText, -1});
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        m_segments.push_back({FilePartHead(m_files[i].file), -1});
        m_segments.push_back({{}, int(i)});
    }
    m_segments.push_back({"\r\n--" + Boundary() + "--\r\n", -1});
    m_segmentsValid = true;
}

std::int64_t MultipartForm::size() const
{
    // Field text, then per file its head (boundary, name, send-as name and 102 bytes of fixed
    // text) and its bytes, then the closing boundary line (boundary + 8).
    const std::int64_t boundary = Boundary().size();
    std::int64_t total = m_fieldText.size();
    for (const auto& f : m_files)
        total += boundary + EncodedName(f.file.fieldName).size() + f.file.sendAs.toUtf8().size() + f.size + 102;
    return total + boundary + 8;
}

bool MultipartForm::rewind()
{
    rebuildSegments();
    m_segment = 0;
    m_offset = 0;
    for (auto& f : m_files)
        if (!f.handle->seek(0))
            return false;
    return true;
}

std::int64_t MultipartForm::read(char* buffer, std::int64_t max)
{
    rebuildSegments();
    while (m_segment < m_segments.size()) {
        const Segment& segment = m_segments[m_segment];
        if (segment.file < 0) {
            const std::int64_t left = segment.text.size() - m_offset;
            if (left <= 0) {
                ++m_segment;
                m_offset = 0;
                continue;
            }
            const std::int64_t n = std::min(left, max);
            std::memcpy(buffer, segment.text.constData() + m_offset, size_t(n));
            m_offset += n;
            return n;
        }
        OpenFile& file = m_files[size_t(segment.file)];
        const std::int64_t left = file.size - m_offset;
        if (left <= 0) {
            if (m_progress)
                m_progress(segment.file, 1000);
            ++m_segment;
            m_offset = 0;
            continue;
        }
        const std::int64_t n = file.handle->read(buffer, std::min({left, max, kPiece}));
        if (n <= 0)
            return -1; // the file shrank or failed: the announced length can no longer be kept
        m_offset += n;
        if (m_progress)
            m_progress(segment.file, int(m_offset * 1000 / std::max<std::int64_t>(file.size, 1)));
        return n;
    }
    return 0;
}

} // namespace crash::http
