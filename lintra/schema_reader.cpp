#include "lintra/schema_reader.h"

#include "lintra/text_lines.h"

namespace lintra {

void SchemaReader::reset() {
    buffer_.clear();
    current_ = nullptr;
}

std::vector<SchemaReader::Event> SchemaReader::feed(const QByteArray& data) {
    std::vector<Event> events;
    buffer_ += data;
    while (buffer_.contains('\n')) take(TakeLine(buffer_), events);
    if (buffer_.size() > kMaxLine) {
        events.push_back({Event::Kind::Answer, buffer_});
        buffer_.clear();
    }
    return events;
}

void SchemaReader::take(const QByteArray& line, std::vector<Event>& events) {
    if (line.startsWith("#TABLE")) {
        current_ = &tables_.Add(line.mid(6));
        events.push_back({Event::Kind::Table, current_->mName});
    } else if (line.startsWith("#ITEM") && current_) {
        current_->mColumns.Add(line.mid(5));
    } else if (!line.isEmpty()) {
        // An "#ITEM" before any table has nowhere to go: the user sees it like any other line.
        events.push_back({Event::Kind::Answer, line});
    } else {
        events.push_back({Event::Kind::End, {}});
    }
}

}  // namespace lintra
