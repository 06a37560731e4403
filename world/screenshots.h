#pragma once
// Pictures of the view asked for during a frame and saved once the frame has been drawn, as it
// is shown. Each is a PNG written under a temporary name beside its file and renamed over it
// only when complete, so that the file is never seen half written.

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSaveFile;

class Screenshots {
public:
    // Told where the picture went, or why it did not: one of the two is "".
    using Done = std::function<void(const std::string& file, const std::string& error)>;

    // At most this many wait for the frame's end; each holds its temporary file open.
    static constexpr size_t kMostWaiting = 16;

    Screenshots();
    ~Screenshots();

    // Asks for the picture at the end of the frame. The temporary file is made now, so a file
    // that cannot be written is known at once: the message naming it, or "". Without `done`
    // a failure at the frame's end is written to standard output.
    std::string Ask(const std::string& file, Done done = nullptr);
    bool Waiting() const { return !requests.empty(); }
    // With the frame's framebuffer bound: reads its viewport and writes every picture asked for.
    void SaveAll();

private:
    struct Request {
        std::string file;
        std::unique_ptr<QSaveFile> output;
        Done done;
    };
    std::vector<Request> requests;
};
