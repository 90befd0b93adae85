// A drag source of another process, as a file manager is: a small window that, pressed, drags the
// files named on its command line with the actions given and prints what QDrag::exec answered.
//
//   ovn-drag-source copy+move|copy|move FILE...
//
// Prints "source X Y" (the window's centre on the screen) once the window is on screen, then, after
// the drag, "exec copy", "exec move", "exec link" or "exec ignore", and quits. Quits with status 1
// when no drag has ended within two minutes.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

namespace {

QString actionName(Qt::DropAction action)
{
    switch (action) {
    case Qt::CopyAction:
        return QStringLiteral("copy");
    case Qt::MoveAction:
        return QStringLiteral("move");
    case Qt::LinkAction:
        return QStringLiteral("link");
    default:
        return QStringLiteral("ignore");
    }
}

class Source : public QWidget
{
public:
    Source(Qt::DropActions offered, QList<QUrl> urls) : m_offered(offered), m_urls(std::move(urls))
    {
        setWindowTitle(QStringLiteral("drag source"));
        resize(160, 120);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || m_started)
            return;
        m_started = true;
        auto *data = new QMimeData;
        data->setUrls(m_urls);
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction preferred = m_offered & Qt::CopyAction ? Qt::CopyAction : Qt::MoveAction;
        const Qt::DropAction answered = drag->exec(m_offered, preferred);
        QTextStream(stdout) << "exec " << actionName(answered) << Qt::endl;
        QTimer::singleShot(0, qApp, &QApplication::quit);
    }

private:
    Qt::DropActions m_offered;
    QList<QUrl> m_urls;
    bool m_started = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() < 2) {
        QTextStream(stderr) << "usage: ovn-drag-source copy+move|copy|move FILE..." << Qt::endl;
        return 2;
    }
    Qt::DropActions offered;
    if (arguments.first() == QLatin1String("copy+move"))
        offered = Qt::CopyAction | Qt::MoveAction;
    else if (arguments.first() == QLatin1String("copy"))
        offered = Qt::CopyAction;
    else if (arguments.first() == QLatin1String("move"))
        offered = Qt::MoveAction;
    else {
        QTextStream(stderr) << "ovn-drag-source: unknown actions " << arguments.first() << Qt::endl;
        return 2;
    }
    QList<QUrl> urls;
    for (const QString &path : arguments.mid(1))
        urls.append(QUrl::fromLocalFile(path));

    Source source(offered, urls);
    source.move(40, 40);
    source.show();
    // The window's place once the window manager has put it on screen.
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!source.windowHandle() || !source.windowHandle()->isExposed())
            return;
        poll.stop();
        QTimer::singleShot(300, [&] {
            const QPoint centre = source.mapToGlobal(source.rect().center());
            QTextStream(stdout) << "source " << centre.x() << ' ' << centre.y() << Qt::endl;
        });
    });
    poll.start();
    QTimer::singleShot(120000, [] {
        QTextStream(stdout) << "exec timeout" << Qt::endl;
        QApplication::exit(1);
    });
    return app.exec();
}
