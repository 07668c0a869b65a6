// placeholder while building
#include <QTest>
class TestSharedServer : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(TestSharedServer)
#include "tst_sharedserver.moc"
