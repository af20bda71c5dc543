#include "crash/send/http/MultipartForm.h"

#include "crash/send/http/MultipartBoundary.h"

#include <algorithm>
#include <cstring>

namespace crash::http {

namespace {

constexpr std::int64_t kPiece = 2048;

QByteArray EncodedName(const QString& name)
{
    if (!FieldNeedsEncoding(name))
        return EscapeFormName(name.toLatin1());
    return "=?UTF-8?B?" + name.toUtf8().toBase64() + "?=";
}

QByteArray FilePartHead(const FormFile& file)
{
    return "Content-Disposition: form-data; name=\"" + EncodedName(file.fieldName) + "\"; filename=\"" +
           EscapeFormName(file.sendAs.toUtf8()) + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
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

QByteArray EscapeFormName(const QByteArray& name)
{
    return QByteArray(name).replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
}

MultipartForm::MultipartForm() : m_boundary(ChooseMultipartBoundary([](QByteArrayView) { return false; })) {}

QByteArray MultipartForm::contentType() const
{
    return "multipart/form-data; boundary=" + m_boundary;
}

void MultipartForm::keepBoundaryOutOfParts()
{
    auto held = [this](QByteArrayView boundary) {
        return std::any_of(m_fieldParts.begin(), m_fieldParts.end(),
                           [boundary](const QByteArray& part) { return part.contains(boundary); });
    };
    if (held(m_boundary))
        m_boundary = ChooseMultipartBoundary(held);
}

void MultipartForm::addField(const QString& name, const QString& content)
{
    const bool encode = FieldNeedsEncoding(content);
    m_fieldParts.append("Content-Disposition: form-data; name=\"" + EncodedName(name) +
                        "\"\r\nContent-Type: text/plain; charset=\"" + (encode ? "utf-8" : "iso-8859-1") +
                        "\"\r\nContent-Transfer-Encoding: " + (encode ? "base64" : "8bit") + "\r\n\r\n" +
                        (encode ? content.toUtf8().toBase64() : content.toLatin1()));
    keepBoundaryOutOfParts();
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
    const QByteArray delimiter = "\r\n--" + m_boundary + "\r\n";
    QByteArray fieldText;
    for (const QByteArray& part : m_fieldParts)
        fieldText += delimiter + part;
    m_segments.push_back({fieldText, -1});
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        m_segments.push_back({delimiter + FilePartHead(m_files[i].file), -1});
        m_segments.push_back({{}, int(i)});
    }
    m_segments.push_back({"\r\n--" + m_boundary + "--\r\n", -1});
    m_segmentsValid = true;
}

std::int64_t MultipartForm::size() const
{
    // The texts as they will be sent and each file's size taken when it was opened.
    rebuildSegments();
    std::int64_t total = 0;
    for (const Segment& segment : m_segments)
        total += segment.file < 0 ? segment.text.size() : m_files[size_t(segment.file)].size;
    return total;
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
