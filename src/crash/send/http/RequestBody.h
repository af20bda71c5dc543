#pragma once
// A request body that is sent in pieces: its length is announced first, then it is read piece by
// piece, and it can start over when a request has to be repeated (authentication).

#include <QByteArray>
#include <cstdint>

namespace crash::http {

class RequestBody
{
public:
    virtual ~RequestBody() = default;
    virtual std::int64_t size() const = 0;
    // Copies at most `max` bytes into `buffer`; 0 at the end, -1 on a read error.
    virtual std::int64_t read(char* buffer, std::int64_t max) = 0;
    virtual bool rewind() = 0;
};

// A body held in memory (queries, XML calls).
class BufferBody : public RequestBody
{
public:
    explicit BufferBody(QByteArray data = {}) : m_data(std::move(data)) {}
    std::int64_t size() const override { return m_data.size(); }
    std::int64_t read(char* buffer, std::int64_t max) override;
    bool rewind() override
    {
        m_position = 0;
        return true;
    }

private:
    QByteArray m_data;
    std::int64_t m_position = 0;
};

} // namespace crash::http
