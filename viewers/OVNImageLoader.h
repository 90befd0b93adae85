#pragma once

#include "formats/OVNOrientation.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

struct OVNLinearImage;
class QWidget;

// Decodes pictures for a window off the GUI thread: the image viewer, the light table and the
// adjustment window each keep one. Every load is numbered on the GUI thread; its picture comes
// back through a queued call on the GUI thread, and only while the loader (so its window) lives
// and no newer load has started: a slow old load never overwrites a newer picture.
class OVNImageLoader : public QObject
{
    Q_OBJECT

public:
    struct Request {
        QString path;
        QString processor;    // the file-type table's; those of the picture loaders decode, others fail
        int shrinkFactor = 0; // for the RAW decoder: 1/2^n a side, 0 the whole picture
        QSize previewSize;    // valid: one that decodes at any size first comes reduced to fit it
        // The file's own orientation is read too; the preview size is then the box for the picture
        // turned upright.
        bool orientationFromFile = false;
        // The whole picture is also made the adjustment chain's source, flipped first as this turn
        // needs (OVNOrientation::flippedBeforeTurn); a large picture's conversion takes long.
        bool linear = false;
        OVNOrientation::Turn linearTurn;
        // The window shows the picture only fitted to the preview size (a light table's pane): the
        // picture is decoded to fit it, once, and nothing larger crosses from the decoder.
        bool fittedOnly = false;
    };
    struct Result {
        quint64 generation = 0;
        QImage image;         // null: the load failed
        bool preview = false; // a reduced picture; the whole one follows
        QImage screen;        // with a preview size: the whole picture already reduced to fit it
        int orientation = 0;  // with orientationFromFile: the file's orientation code
        QSize fullSize;       // the picture's size as stored, where the decode told it; else the image's
        std::shared_ptr<const OVNLinearImage> linear; // with Request::linear; null when memory ran out
        // Why the load failed, in the words every road uses (ImageFileReader::noPictureText);
        // empty where the decoder did not say.
        QString problem;
    };
    // Decodes one picture (preview: fitting the request's preview size); replaceable for tests.
    using Decoder = std::function<QImage(const Request &request, bool preview)>;

    explicit OVNImageLoader(QObject *parent = nullptr);
    ~OVNImageLoader() override;

    // Starts a load; its number. On the GUI thread.
    quint64 load(const Request &request);
    // Results of loads started before now are dropped.
    void cancel();
    quint64 generation() const { return m_generation; }
    void setDecoder(Decoder decoder) { m_decoder = std::move(decoder); }

    // `image` reduced to fit `box` (its aspect kept), as cheaply as looks well.
    static QImage reducedToFit(const QImage &image, QSize box);
    // The program's decoding of a request by its processor's loader: the image reading, the RAW
    // decoder or dcraw; a null picture for any other.
    // A fitted-only request's picture is decoded to fit its preview size. `fullSize`, when given, gets
    // the picture's size as stored where the reader tells it, `problem` why there is no picture.
    static QImage decode(const Request &request, bool preview, QSize *fullSize = nullptr, QString *problem = nullptr);
    // Waits for every load of every loader to end (tests, and before the program exits).
    static void waitForAll();

signals:
    // The current load's picture (a preview first when one was asked for), or a failure.
    void loaded(const OVNImageLoader::Result &result);

private:
    struct Link;
    void deliver(const Result &result);

    quint64 m_generation = 0;
    quint64 m_wholeDelivered = 0; // a reduced picture arriving after the whole one is dropped
    Decoder m_decoder;
    std::shared_ptr<Link> m_link;
};

// A viewer window whose picture did not load: the failure alert on it, saying what happened
// (loadFailureText), then the window closes.
void showLoadFailureAndClose(QWidget *window, const QString &problem = {});
// The alert's words below its first line: the load's problem as a sentence ("The picture needs more
// memory than decoding may use."), or a plain failure where none was told.
QString loadFailureText(const QString &problem);
