#pragma once

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

namespace devsim {

class SimulatedDevice;

// How the loader answers one packet instead of acknowledging it; set by tests from any thread.
struct ImageAnswerFault {
    enum class Kind {
        Drop,    // no answer
        Number,  // a 2-byte answer naming `value` (an earlier packet, or 32768 and more)
        Bytes,   // an answer of `value` bytes (1 or 3) that is no acknowledgement
    };
    int packet = 0;
    Kind kind = Kind::Drop;
    int value = 0;
    bool always = false;  // otherwise only the next time the packet arrives
};

class ImageLoaderFaults {
  public:
    std::atomic<bool> silent{false};  // datagrams are taken and stored, never answered

    void dropAck(int packet, bool always = false) { add({packet, ImageAnswerFault::Kind::Drop, 0, always}); }
    void answerNumber(int packet, int number, bool always = false) {
        add({packet, ImageAnswerFault::Kind::Number, number, always});
    }
    void answerBytes(int packet, int size, bool always = false) {
        add({packet, ImageAnswerFault::Kind::Bytes, size, always});
    }
    void clear();

    // Device thread: the fault for `packet`, used up unless it holds always.
    std::optional<ImageAnswerFault> take(int packet);

  private:
    void add(const ImageAnswerFault& fault);

    std::mutex mutex_;
    std::vector<ImageAnswerFault> faults_;
};

// The image loader on UDP 4242: takes numbered 1472-byte datagrams (16-bit little-endian packet number,
// then 1470 image bytes), writes each at its place in "<root>/nk.bin.part", answers with the number of
// the packet it now holds, and once the sender has been quiet for kQuietTime stores the image as
// "<root>/nk.bin" (the zero padding of the last packet dropped) and logs the result. Packet 1 starts a
// new image; the next packet after a stored image takes that image up again. Lives on the device thread.
class ImageLoader : public QObject {
    Q_OBJECT
  public:
    static constexpr quint16 kPort = 4242;
    static constexpr int kDataBytes = 1470;
    static constexpr int kDatagramBytes = kDataBytes + 2;
    // Longer than the sender waits for an answer (1.1 s) before it sends a packet again.
    static constexpr std::chrono::milliseconds kQuietTime{3000};
    static constexpr const char* kImageName = "nk.bin";

    explicit ImageLoader(SimulatedDevice& device);
    ~ImageLoader() override;

    bool listen(const QHostAddress& address, QString* error);
    void stopListening();
    ImageLoaderFaults& faults() { return faults_; }

  private:
    void onReadyRead();
    void take(const QByteArray& datagram, const QHostAddress& sender, quint16 senderPort);
    void answer(int packet, const QHostAddress& sender, quint16 senderPort);
    bool beginImage();
    bool resumeImage();
    void finishImage();
    QString imagePath() const;

    SimulatedDevice& device_;
    QUdpSocket* socket_ = nullptr;
    QByteArray buffer_;  // one datagram, as large as they come
    ImageLoaderFaults faults_;
    QFile part_;
    QTimer quiet_;
    int highest_ = 0;        // highest packet held
    qint64 lastLength_ = 0;  // payload bytes of that packet up to its last non-zero byte
    int repeats_ = 0;
};

}  // namespace devsim
