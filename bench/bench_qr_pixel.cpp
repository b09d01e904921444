// "payment" message to a readable QR code on the screen, measured as the
// customer sees it: a WebSocket client of its own (timestamp right after the
// frame's send()) and a camera polling a patch of the X screen at the centre
// of the QR frame, on one clock in one process.
//
// Per sample: send the QR payment, then poll the patch until it holds both
// module colours (near black and near white); that frame is read back whole
// and decoded. Reported: the time to the first change of the patch (the
// dialog), the time to the code, whether the code came with the dialog's
// first frame, and how many frames in between showed something else (an
// empty white frame, for instance). Then the payment is finished and the
// patch must return to what it was.
//
//   bench_qr_pixel --display :150 --port 30058 --qr-json F --done-json F
//                  [--x 640 --y 352 --frame 166 --n 100 --gap-ms 300 --warmup 3]
#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

// Last: Xlib defines macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

namespace {

int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepNs(int64_t ns)
{
    if (ns <= 0)
        return;
    timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

[[noreturn]] void die(const char *what)
{
    std::fprintf(stderr, "bench_qr_pixel: %s\n", what);
    std::exit(2);
}

// ---- the camera: a square patch of the root window
class Camera
{
public:
    Camera(const char *display, int cx, int cy, int half) : m_cx(cx), m_cy(cy), m_half(half)
    {
        m_dpy = XOpenDisplay(display);
        if (!m_dpy)
            die("cannot open the X display");
        const int scr = DefaultScreen(m_dpy);
        m_root = RootWindow(m_dpy, scr);
        Visual *vis = DefaultVisual(m_dpy, scr);
        const int side = 2 * half + 1;
        if (!XShmQueryExtension(m_dpy))
            die("no MIT-SHM");
        m_img = XShmCreateImage(m_dpy, vis, unsigned(DefaultDepth(m_dpy, scr)), ZPixmap, nullptr, &m_shm,
                                unsigned(side), unsigned(side));
        m_shm.shmid = shmget(IPC_PRIVATE, size_t(m_img->bytes_per_line * m_img->height), IPC_CREAT | 0600);
        m_shm.shmaddr = m_img->data = static_cast<char *>(shmat(m_shm.shmid, nullptr, 0));
        m_shm.readOnly = False;
        if (!XShmAttach(m_dpy, &m_shm))
            die("XShmAttach failed");
        XSync(m_dpy, False);
        shmctl(m_shm.shmid, IPC_RMID, nullptr);
    }

    // Grey levels of the patch, row by row.
    std::vector<uint8_t> patch()
    {
        XShmGetImage(m_dpy, m_root, m_img, m_cx - m_half, m_cy - m_half, AllPlanes);
        std::vector<uint8_t> grey;
        grey.reserve(size_t(m_img->width * m_img->height));
        for (int y = 0; y < m_img->height; ++y)
            for (int x = 0; x < m_img->width; ++x)
                grey.push_back(toGrey(XGetPixel(m_img, x, y)));
        return grey;
    }

    // A square of the screen as grey levels, for the decoder.
    std::vector<uint8_t> grab(int half, int *side)
    {
        *side = 2 * half + 1;
        XImage *im = XGetImage(m_dpy, m_root, m_cx - half, m_cy - half, unsigned(*side), unsigned(*side),
                               AllPlanes, ZPixmap);
        if (!im)
            die("XGetImage failed");
        std::vector<uint8_t> grey;
        for (int y = 0; y < *side; ++y)
            for (int x = 0; x < *side; ++x)
                grey.push_back(toGrey(XGetPixel(im, x, y)));
        XDestroyImage(im);
        return grey;
    }

private:
    static uint8_t toGrey(unsigned long p)
    {
        // Depth 24, 8 bits per channel.
        const unsigned r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
        return uint8_t((r * 299 + g * 587 + b * 114) / 1000);
    }

    Display *m_dpy = nullptr;
    Window m_root = 0;
    XImage *m_img = nullptr;
    XShmSegmentInfo m_shm{};
    int m_cx, m_cy, m_half;
};

// Both module colours present: the code is drawn (an empty white frame, the
// dimmed backdrop or the dialog's card alone are not).
bool showsCode(const std::vector<uint8_t> &grey)
{
    bool dark = false, light = false;
    for (uint8_t v : grey) {
        dark |= v < 48;
        light |= v > 208;
    }
    return dark && light;
}

// ---- the terminal: a minimal RFC 6455 client
class Terminal
{
public:
    explicit Terminal(int port)
    {
        const int64_t deadline = nowNs() + 90 * 1000000000LL;
        while (!connectOnce(port)) {
            if (nowNs() > deadline)
                die("could not connect to the display");
            sleepNs(100000000);
        }
    }

    void send(const QByteArray &payload)
    {
        std::string frame;
        frame.push_back(char(0x82));
        const size_t n = size_t(payload.size());
        if (n < 126) {
            frame.push_back(char(0x80 | n));
        } else if (n < 65536) {
            frame.push_back(char(0x80 | 126));
            frame.push_back(char(n >> 8));
            frame.push_back(char(n & 255));
        } else {
            frame.push_back(char(0x80 | 127));
            for (int i = 7; i >= 0; --i)
                frame.push_back(char((uint64_t(n) >> (8 * i)) & 255));
        }
        const uint32_t r = m_random();
        const char mask[4] = {char(r), char(r >> 8), char(r >> 16), char(r >> 24)};
        frame.append(mask, 4);
        for (size_t i = 0; i < n; ++i)
            frame.push_back(char(payload[qsizetype(i)] ^ mask[i & 3]));
        writeAll(frame.data(), frame.size());
    }

    // Reads what the display sent (nothing is expected but pings) and
    // answers pings, for `ms` milliseconds.
    void idle(int64_t ms)
    {
        const int64_t end = nowNs() + ms * 1000000;
        for (int64_t left; (left = end - nowNs()) > 0;) {
            pollfd pf{m_sock, POLLIN, 0};
            if (poll(&pf, 1, int((left + 999999) / 1000000)) > 0)
                drain();
        }
    }

private:
    bool connectOnce(int port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        m_sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(m_sock, reinterpret_cast<sockaddr *>(&a), sizeof a) < 0) {
            close(m_sock);
            return false;
        }
        int one = 1;
        setsockopt(m_sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::string req =
            "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
            "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        writeAll(req.data(), req.size());
        std::string head;
        char c;
        while (head.find("\r\n\r\n") == std::string::npos) {
            if (recv(m_sock, &c, 1, 0) != 1) {
                close(m_sock);
                return false;
            }
            head.push_back(c);
        }
        if (head.rfind("HTTP/1.1 101", 0) != 0)
            die("handshake refused");
        return true;
    }

    void writeAll(const char *p, size_t n)
    {
        while (n) {
            const ssize_t w = ::send(m_sock, p, n, MSG_NOSIGNAL);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                die("send failed");
            }
            p += w;
            n -= size_t(w);
        }
    }

    void drain()
    {
        char buf[65536];
        for (;;) {
            const ssize_t r = recv(m_sock, buf, sizeof buf, MSG_DONTWAIT);
            if (r == 0)
                die("the display closed the connection");
            if (r < 0)
                break;
            m_rx.append(buf, size_t(r));
        }
        while (m_rx.size() >= 2) {
            const unsigned op = uint8_t(m_rx[0]) & 15;
            uint64_t len = uint8_t(m_rx[1]) & 127;
            size_t h = 2;
            if (len == 126) {
                if (m_rx.size() < 4)
                    return;
                len = uint64_t(uint8_t(m_rx[2])) << 8 | uint8_t(m_rx[3]);
                h = 4;
            } else if (len == 127) {
                if (m_rx.size() < 10)
                    return;
                len = 0;
                for (int i = 0; i < 8; ++i)
                    len = len << 8 | uint8_t(m_rx[size_t(2 + i)]);
                h = 10;
            }
            if (m_rx.size() < h + len)
                return;
            if (op == 9) { // ping: pong with the same payload
                sendControl(0xA, m_rx.substr(h, len));
            } else if (op == 8) {
                die("the display sent a close frame");
            }
            m_rx.erase(0, h + len);
        }
    }

    void sendControl(int opcode, const std::string &payload)
    {
        std::string frame;
        frame.push_back(char(0x80 | opcode));
        frame.push_back(char(0x80 | payload.size())); // control frames are under 126 bytes
        frame.append(4, '\0');                        // zero mask
        frame += payload;
        writeAll(frame.data(), frame.size());
    }

    int m_sock = -1;
    std::string m_rx;
    std::mt19937 m_random{std::random_device{}()};
};

QByteArray readFile(const char *path)
{
    QFile f(QString::fromLocal8Bit(path));
    if (!f.open(QIODevice::ReadOnly))
        die("cannot read a message file");
    return f.readAll().trimmed();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t k = std::clamp<size_t>(size_t(std::ceil(p * double(v.size()))), 1, v.size());
    return v[k - 1];
}

void report(const char *name, const std::vector<double> &v)
{
    std::printf("%-34s %5zu %8.2f %8.2f %8.2f %8.2f\n", name, v.size(), percentile(v, 0.5),
                percentile(v, 0.9), percentile(v, 0.99),
                v.empty() ? NAN : *std::max_element(v.begin(), v.end()));
}

} // namespace

int main(int argc, char **argv)
{
    const char *display = ":150", *qrJson = nullptr, *doneJson = nullptr;
    int port = 30058, cx = 640, cy = 352, frame = 166, n = 100, gapMs = 300, warmup = 3, timeoutMs = 3000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const char *v = argv[i + 1];
        if (a == "--display")
            display = v;
        else if (a == "--port")
            port = std::atoi(v);
        else if (a == "--qr-json")
            qrJson = v;
        else if (a == "--done-json")
            doneJson = v;
        else if (a == "--x")
            cx = std::atoi(v);
        else if (a == "--y")
            cy = std::atoi(v);
        else if (a == "--frame")
            frame = std::atoi(v);
        else if (a == "--n")
            n = std::atoi(v);
        else if (a == "--gap-ms")
            gapMs = std::atoi(v);
        else if (a == "--warmup")
            warmup = std::atoi(v);
        else
            die("unknown option (see the comment at the top of bench_qr_pixel.cpp)");
    }
    if (!qrJson || !doneJson)
        die("--qr-json and --done-json are required");
    const QByteArray qrMessage = readFile(qrJson), doneMessage = readFile(doneJson);
    const std::string expected = QJsonDocument::fromJson(qrMessage)
                                     .object()
                                     .value(QLatin1String("content"))
                                     .toObject()
                                     .value(QLatin1String("qrcode_table"))
                                     .toString()
                                     .toStdString();

    Camera camera(display, cx, cy, 7);
    Terminal terminal(port);
    terminal.send(doneMessage);
    terminal.idle(2000); // the waiting dialog closes, the window settles

    std::vector<double> dialog, code, closed;
    int sameFrame = 0, decoded = 0, timeouts = 0, framesBetweenMax = 0;
    std::mt19937 jitter(12345);
    for (int i = 0; i < warmup + n; ++i) {
        const bool measured = i >= warmup;
        const std::vector<uint8_t> before = camera.patch();
        if (showsCode(before))
            die("a code is on the screen before the payment: wrong --x/--y, or the last payment did not "
                "close");
        terminal.send(qrMessage);
        const int64_t t0 = nowNs();
        int64_t tFirst = -1, tCode = -1;
        bool firstHadCode = false;
        int framesBetween = 0;
        std::vector<uint8_t> last = before;
        for (;;) {
            const std::vector<uint8_t> p = camera.patch();
            const int64_t t = nowNs();
            if (p != last) {
                if (tFirst < 0) {
                    tFirst = t;
                    firstHadCode = showsCode(p);
                }
                if (!showsCode(p))
                    ++framesBetween; // a picture without the code
                last = p;
            }
            if (showsCode(p)) {
                tCode = t;
                break;
            }
            if (t - t0 > int64_t(timeoutMs) * 1000000)
                break;
            sleepNs(250000);
        }
        if (tCode < 0) {
            ++timeouts;
        } else if (measured) {
            dialog.push_back(double(tFirst - t0) / 1e6);
            code.push_back(double(tCode - t0) / 1e6);
            sameFrame += firstHadCode ? 1 : 0;
            framesBetweenMax = std::max(framesBetweenMax, framesBetween);
            int side = 0;
            const std::vector<uint8_t> shot = camera.grab(frame / 2 + 4, &side);
            const ZXing::ImageView view(shot.data(), side, side, ZXing::ImageFormat::Lum);
            const ZXing::Result result =
                ZXing::ReadBarcode(view, ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode));
            if (result.isValid() && result.text() == expected)
                ++decoded;
        }
        terminal.idle(gapMs + int(jitter() % 21));

        terminal.send(doneMessage);
        const int64_t t1 = nowNs();
        for (;;) {
            const std::vector<uint8_t> p = camera.patch();
            const int64_t t = nowNs();
            if (!showsCode(p)) {
                if (measured)
                    closed.push_back(double(t - t1) / 1e6);
                break;
            }
            if (t - t1 > int64_t(timeoutMs) * 1000000)
                die("the QR dialog did not close");
            sleepNs(250000);
        }
        terminal.idle(gapMs + int(jitter() % 21));
    }

    std::printf("== payment -> QR on screen: %d messages after %d of warm-up, timeouts=%d\n", n, warmup,
                timeouts);
    std::printf("%-34s %5s %8s %8s %8s %8s   (ms)\n", "metric", "n", "median", "p90", "p99", "max");
    report("dialog (first change)", dialog);
    report("code (both module colours)", code);
    report("closed (is_finished)", closed);
    std::printf("code in the dialog's first frame: %d of %zu; frames between dialog and code: at most %d\n",
                sameFrame, code.size(), framesBetweenMax);
    std::printf("decoded to the text sent: %d of %zu\n", decoded, code.size());
    std::printf(
        "RESULT qr n=%zu median=%.2f p90=%.2f p99=%.2f max=%.2f same_frame=%d decoded=%d timeouts=%d\n",
        code.size(), percentile(code, 0.5), percentile(code, 0.9), percentile(code, 0.99),
        code.empty() ? NAN : *std::max_element(code.begin(), code.end()), sameFrame, decoded, timeouts);
    return timeouts ? 1 : 0;
}
