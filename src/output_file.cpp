#include "output_file.h"

bool open_output(OutputFile& out, const char* name, MemoryFiles* memory) {
    out.name = name;
    out.used = 0;
    out.failed = false;
    out.file = nullptr;
    out.memory = nullptr;
    if (memory != nullptr) {
        std::string& contents = memory->files[out.name];
        contents.clear();
        out.memory = &contents;
        out.memory_limit = memory->max_file_size;
    } else {
        out.file = std::fopen(name, "w");
        if (out.file == nullptr) {
            return false;
        }
    }
    if (!out.buffer) {
        out.buffer = std::make_unique<char[]>(output_buffer_size);
    }
    return true;
}

void flush_output(OutputFile& out) {
    if (out.used == 0) {
        return;
    }
    if (out.memory != nullptr) {
        const std::size_t room = out.memory_limit - out.memory->size();
        out.memory->append(out.buffer.get(), out.used < room ? out.used : room);
        out.failed = out.failed || out.used > room;
    } else if (!out.failed && std::fwrite(out.buffer.get(), 1, out.used, out.file) != out.used) {
        out.failed = true;
    }
    out.used = 0;
}

bool close_output(OutputFile& out) {
    flush_output(out);
    if (out.file != nullptr) {
        if (std::fclose(out.file) != 0) {
            out.failed = true;
        }
        out.file = nullptr;
    }
    out.memory = nullptr;
    return !out.failed;
}
