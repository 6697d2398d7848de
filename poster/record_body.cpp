#include "record_body.h"

std::size_t recordBody(char* dest, const char* did, const char* text, const char* createdAt) {
    std::size_t used = 0;
    jsonAppendRaw(dest, kRecordBodyRoom, used, "{\"repo\":");
    jsonAppendString(dest, kRecordBodyRoom, used, did);
    jsonAppendRaw(dest, kRecordBodyRoom, used,
                  ",\"collection\":\"app.bsky.feed.post\",\"record\":{\"$type\":\"app.bsky.feed.post\",\"text\":");
    jsonAppendString(dest, kRecordBodyRoom, used, text);
    jsonAppendRaw(dest, kRecordBodyRoom, used, ",\"createdAt\":");
    jsonAppendString(dest, kRecordBodyRoom, used, createdAt);
    jsonAppendRaw(dest, kRecordBodyRoom, used, "}}");
    return used;
}
