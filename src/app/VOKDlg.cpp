#include "app/VOKDlg.h"

#include "admin/LoginDlg.h"
#include "app/AboutDlg.h"
#include "app/AutoBackup.h"
#include "app/AutoProxy.h"
#include "core/Clock.h"
#include "core/Departments.h"
#include "core/HelpLauncher.h"
#include "core/Transfers.h"
#include "db/DbError.h"
#include "db/Gbk.h"
#include "db/SqliteConnection.h"
#include "movements/TransferInDlg.h"
#include "records/LoanQueryDlg.h"
#include "ui/ComErrorBox.h"
#include "ui/DialogStyle.h"
#include "ui/MessageService.h"
#include "ui/Refusal.h"

#include <QAction>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QThread>
#include <QThreadPool>
#include <QVBoxLayout>

#include <sys/syscall.h>
#include <unistd.h>

// The resources live in a static library: register them before first use.
static void initResources()
{
    Q_INIT_RESOURCE(vok);
}

namespace vok {

QIcon programIcon()
{
    static const bool ready = (initResources(), true);
    Q_UNUSED(ready);
    return QIcon(QStringLiteral(":/vok/icons/vok.png"));
}

CVOKDlg::CVOKDlg(std::vector<MainButton> buttons, QWidget* parent)
    : QDialog(parent), m_rows(std::move(buttons)), m_autoBackup(new AutoBackup(this))
{
    setWindowTitle(QStringLiteral("仓库管理系统"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(programIcon());
    applyProgramStyle(this);

    // There is no system menu to extend: the About item is the window's
    // context menu (right button anywhere on the window).
    auto* about = new QAction(QStringLiteral("关于 VOK(&A)..."), this);
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &CVOKDlg::showAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    buildButtons();
    setReconnectHandler([this](QWidget* parent) { return reconnect(parent); });
}

CVOKDlg::~CVOKDlg()
{
    if (m_pageCheck) {
        // The check of a large file takes a while: it is told to stop first.
        m_stopPageCheck = true;
        m_pageCheck->wait();
        delete m_pageCheck;
    }
    if (m_transferRecovery) {
        m_transferRecovery->wait();
        delete m_transferRecovery;
    }
    setReconnectHandler({});
    if (m_connection && m_connection->isOpen())
        m_connection->close();
}

void CVOKDlg::buildButtons()
{
    struct Frame
    {
        ButtonGroup group;
        QString title;
        QGroupBox* box = nullptr;
        QVBoxLayout* layout = nullptr;
    };
    Frame frames[] = {{ButtonGroup::Operations, QStringLiteral("操作")},
                      {ButtonGroup::Queries, QStringLiteral("查询")},
                      {ButtonGroup::Other, QStringLiteral("其他功能")},
                      {ButtonGroup::System, QStringLiteral("系统")}};
    for (Frame& f : frames) {
        f.box = new QGroupBox(f.title, this);
        f.layout = new QVBoxLayout(f.box);
        f.layout->setSpacing(8);
        f.layout->setContentsMargins(12, 14, 12, 12);
    }
    for (const MainButton& row : m_rows) {
        if (!row.factory && !row.action)
            continue;
        Frame& f = frames[int(row.group)];
        auto* b = new QPushButton(row.caption, f.box);
        b->setObjectName(row.name.toString());
        b->setMinimumHeight(26);
        b->setAutoDefault(false);
        f.layout->addWidget(b);
        m_buttonWidgets.insert(row.name.toString(), b);
        if (!row.shortcut.isEmpty()) {
            b->setToolTip(row.shortcut.toString(QKeySequence::NativeText));
            connect(new QShortcut(row.shortcut, this), &QShortcut::activated, b,
                    &QPushButton::click);
        }
        const MainButton* r = &row;
        connect(b, &QPushButton::clicked, this, [this, r] {
            if (r->factory)
                openForm(*r);
            else
                r->action(*this);
        });
    }
    for (Frame& f : frames)
        f.layout->addStretch();

    // 操作 and 其他功能 on the left, 查询 in the middle, 系统 on the right.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(14, 44, 14, 14); // room for the date and user lines at the top
    grid->setSpacing(12);
    grid->addWidget(frames[0].box, 0, 0);
    grid->addWidget(frames[2].box, 1, 0);
    grid->addWidget(frames[1].box, 0, 1, 2, 1);
    grid->addWidget(frames[3].box, 0, 2, 2, 1);
    m_backupLine = new QLabel(this);
    m_backupLine->setObjectName(QStringLiteral("backupLine"));
    // The line keeps its room while hidden, so that the buttons above it
    // never move when it comes and goes.
    QSizePolicy keepRoom = m_backupLine->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_backupLine->setSizePolicy(keepRoom);
    m_backupLine->hide();
    grid->addWidget(m_backupLine, 2, 0, 1, 3);
    m_overdueLine = new QLabel(this);
    m_overdueLine->setObjectName(QStringLiteral("overdueLine"));
    m_overdueLine->setSizePolicy(keepRoom);
    m_overdueLine->hide();
    grid->addWidget(m_overdueLine, 3, 0, 1, 2);
    connect(m_overdueLine, &QLabel::linkActivated, this, [this] { openOverdueLoans(); });
    m_transferLine = new QLabel(this);
    m_transferLine->setObjectName(QStringLiteral("transferLine"));
    m_transferLine->setSizePolicy(keepRoom);
    m_transferLine->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_transferLine->hide();
    grid->addWidget(m_transferLine, 3, 2);
    connect(m_transferLine, &QLabel::linkActivated, this, [this] { openWaitingTransfers(); });
    connect(m_autoBackup, &AutoBackup::lineChanged, m_backupLine, [this](const QString& line) {
        m_backupLine->setText(line);
        m_backupLine->setVisible(!line.isEmpty());
    });
    connect(m_autoBackup, &AutoBackup::finished, this, [this] {
        for (const char* name : {"backup", "restore"})
            if (QPushButton* b = button(QString::fromLatin1(name)))
                b->setEnabled(true);
    });
    for (int c = 0; c < 3; ++c) {
        grid->setColumnStretch(c, 1);
        grid->setColumnMinimumWidth(c, 170);
    }
    // The layout sets the least size, so that every button has its room.
    resize(sizeHint().expandedTo(QSize(560, 438)));
}

bool CVOKDlg::startUp()
{
    return logIn(false);
}

bool CVOKDlg::logIn(bool again)
{
    for (;;) {
        CLoginDlg dlg(this);
        dlg.setWindowIcon(windowIcon());
        dlg.exec();
        if (dlg.userName().isEmpty())
            continue;
        if (!dlg.success())
            return false;

        if (m_connection) {
            m_connection->close();
            m_connection.reset();
        }
        // The log-in's own connection when the account was found in the
        // chosen department, else one opened now.
        ConnectionPtr c = dlg.takeConnection();
        try {
            if (!c)
                c = openConnection(
                    *departmentConnectionString(dlg.department(), dlg.userName(), dlg.password()));
        } catch (const DbError& e) {
            showComError(e, this);
            return false;
        }
        m_connection = c;
        m_log.attach(c, dlg.userName());
        writeLog(m_log, again ? QStringLiteral("重新登录数据库") : QStringLiteral("登录数据库"),
                 this);
        m_user = {dlg.userName(), dlg.password(), dlg.department(), dlg.classText(),
                  dlg.ownDepartment()};
        update();
        startAutoBackup();
        startPageCheck();
        showOverdueLine();
        showTransferLine();
        startTransferRecovery();
        // The tables of the GBK encoder, which checks every typed text, come
        // from the disk on a thread of their own, not at the first query.
        QThreadPool::globalInstance()->start([] { gbkLength(QStringLiteral("部门")); });
        return true;
    }
}

void CVOKDlg::startAutoBackup()
{
    // A backup or restore by hand waits until this one is done.
    if (m_autoBackup->startIfDue())
        for (const char* name : {"backup", "restore"})
            if (QPushButton* b = button(QString::fromLatin1(name)))
                b->setEnabled(false);
}

void CVOKDlg::startPageCheck()
{
    const QString file = m_connection ? m_connection->databaseFile() : QString();
    if (file.isEmpty() || m_pageCheck)
        return;
    auto finding = std::make_shared<QString>();
    m_stopPageCheck = false;
    m_pageCheck = QThread::create([this, file, finding] {
        // Its reads wait for those of the user's work (the idle class of
        // the disk's queue), as its steps wait for the processor.
        constexpr int whoThread = 1, idleClass = 3, classShift = 13;
        syscall(SYS_ioprio_set, whoThread, 0, idleClass << classShift);
        try {
            checkDepartmentPages(file, &m_stopPageCheck);
        } catch (const DbError& e) {
            if (e.failure() == DbError::Failure::Damaged)
                *finding = e.detail().isEmpty() ? e.text() : e.detail();
        }
    });
    connect(m_pageCheck, &QThread::finished, this, [this, file, finding] {
        m_pageCheck->wait();
        delete m_pageCheck;
        m_pageCheck = nullptr;
        if (!finding->isEmpty())
            pageCheckDone(file, *finding);
    });
    m_pageCheck->start(QThread::IdlePriority);
}

void CVOKDlg::pageCheckDone(const QString& file, const QString& finding)
{
    stopWrites(file, finding);
    const Messages::Answer answer = Messages::show(
        QStringLiteral("检查发现数据库文件“%1”已损坏（%2）。\r\n\r\n"
                       "为了不让损坏扩散到新的记录，程序已停止对这个部门数据库的一切修改，"
                       "只能查看。请用备份恢复数据库。\r\n\r\n现在就还原数据库吗？")
            .arg(QDir::toNativeSeparators(file), finding),
        QString(), Messages::Icon::Exclamation, Messages::Buttons::YesNo, this);
    if (answer == Messages::Answer::Yes)
        if (QPushButton* b = button(QStringLiteral("restore")))
            b->click();
}

QString CVOKDlg::backupLine() const
{
    return m_backupLine->text();
}

QString CVOKDlg::overdueLine() const
{
    return m_overdueLine->text().isEmpty() ? QString() : Loans::overdueText(m_overdue);
}

// Read once at log-in and after the overdue list closes; nothing pops up:
// a failure to read only leaves the line out.
void CVOKDlg::showOverdueLine()
{
    m_overdue = {};
    try {
        if (m_connection)
            m_overdue = Loans::overdue(*m_connection, Clock::now().date());
    } catch (const DbError&) {
    }
    const QString text = Loans::overdueText(m_overdue);
    m_overdueLine->setText(text.isEmpty() ? QString()
                                          : QStringLiteral("<a href=\"overdue\">%1</a>").arg(text));
    m_overdueLine->setVisible(!text.isEmpty());
}

void CVOKDlg::openOverdueLoans()
{
    for (const MainButton& r : m_rows) {
        if (r.name != u"loanQuery")
            continue;
        MainButton row = r;
        row.factory = [](const FormContext& context, QWidget* parent) -> std::unique_ptr<QDialog> {
            return std::make_unique<CLoanQueryDlg>(context, parent, CLoanQueryDlg::Show::Overdue);
        };
        openForm(row);
        showOverdueLine();
        return;
    }
}

QString CVOKDlg::transferLine() const
{
    return m_transferText;
}

// Nothing pops up: a failure to read only leaves the line out.
void CVOKDlg::showTransferLine()
{
    QString text;
    try {
        if (m_connection)
            text = transfer::waitingText(transfer::waitingCount(*m_connection));
    } catch (const DbError&) {
    }
    m_transferText = text;
    m_transferLine->setText(
        text.isEmpty() ? QString() : QStringLiteral("<a href=\"transfers\">%1</a>").arg(text));
    m_transferLine->setVisible(!text.isEmpty());
}

void CVOKDlg::startTransferRecovery()
{
    if (m_transferRecovery || !m_connection)
        return;
    const CurrentUser user = m_user;
    m_transferRecovery = QThread::create([user] {
        try {
            const auto own =
                departmentConnectionString(user.department, user.userName, user.password);
            if (!own)
                return;
            ConnectionPtr c = openConnection(*own);
            transfer::recover({user.department, c},
                              transfer::departmentOpener(user.userName, user.password));
            c->close();
        } catch (const DbError&) {
            // Left for the next log-in or transfer action; nothing is lost.
        }
    });
    connect(m_transferRecovery, &QThread::finished, this, [this] {
        m_transferRecovery->wait();
        delete m_transferRecovery;
        m_transferRecovery = nullptr;
        showTransferLine();
    });
    m_transferRecovery->start();
}

void CVOKDlg::openWaitingTransfers()
{
    for (const MainButton& r : m_rows)
        if (r.name == u"transferIn") {
            openForm(r);
            return;
        }
}

void CVOKDlg::relogin()
{
    if (!logIn(true))
        done(0);
}

void CVOKDlg::replaceConnection(ConnectionPtr connection)
{
    m_connection = std::move(connection);
    m_log.attach(m_connection, m_user.userName);
}

bool CVOKDlg::reconnect(QWidget* parent)
{
    if (!m_connection)
        return false;
    // The forms hold this same connection: opened again in place, it
    // serves them all, and the repeated action goes through.
    try {
        m_connection->reopen();
    } catch (const DbError& e) {
        Messages::notice(comErrorText(e), parent, QString(), Messages::Icon::Exclamation);
        return false;
    }
    replaceConnection(m_connection);
    return true;
}

void CVOKDlg::showHelp()
{
    HelpLauncher::open(QStringLiteral("main.htm"), HelpLauncher::Show::Maximized);
}

void CVOKDlg::showAbout()
{
    CAboutDlg about(this);
    about.exec();
}

FormContext CVOKDlg::contextFor(const MainButton& row)
{
    FormContext c;
    c.classNumber = classNumberOf(m_user.classText);
    c.connection = m_connection;
    c.log = row.handsLog ? &m_log : nullptr;
    c.department = m_user.department;
    c.openDepartment = transfer::departmentOpener(m_user.userName, m_user.password);
    if (row.handsUserName)
        c.userName = m_user.userName;
    return c;
}

void CVOKDlg::openForm(const MainButton& row)
{
    if (row.refusedOutsideOwnDepartment && !m_user.ownDepartment) {
        showRefusal(RefusalText::WithLineBreak, this);
        return;
    }
    // The form is a window of its own so that it stays visible while the
    // main window is minimised.
    std::unique_ptr<QDialog> form = row.factory(contextFor(row), nullptr);
    form->setWindowIcon(windowIcon());
    showMinimized();
    form->exec();
    form.reset();
    // A form may have sent or received a transfer.
    showTransferLine();
    showNormal();
    activateWindow();
}

void CVOKDlg::setAutoProxy(CVOKDlgAutoProxy* proxy)
{
    m_proxy = proxy;
    if (proxy)
        connect(proxy, &CVOKDlgAutoProxy::released, this, &CVOKDlg::automationReleased);
}

void CVOKDlg::done(int result)
{
    if (m_proxy && m_proxy->isHeld()) {
        // An automation client still holds the program: only hide.
        m_closePending = true;
        m_pendingResult = result;
        hide();
        return;
    }
    QDialog::done(result);
}

void CVOKDlg::automationReleased()
{
    if (m_closePending && isHidden()) {
        m_closePending = false;
        QDialog::done(m_pendingResult);
    }
}

void CVOKDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // A window shown again is only copied from its last picture unless it
    // is marked for repainting.
    if ((event->type() == QEvent::WindowStateChange && !isMinimized()) ||
        (event->type() == QEvent::ActivationChange && isActiveWindow()))
        update();
}

void CVOKDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter p(this);
    QFont f(QStringLiteral("AR PL UKai CN"));
    f.setPixelSize(15);
    f.setFixedPitch(true);
    f.setStyleHint(QFont::TypeWriter);
    p.setFont(f);
    p.setPen(QColor(255, 0, 0));
    m_dateLine = unpaddedDateTime(Clock::now());
    p.drawText(QRect(230, 0, width() - 230, 24), Qt::AlignLeft | Qt::AlignTop, m_dateLine);
    // Who is working, under the clock, in the window's own font.
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, 22, width(), 20), Qt::AlignHCenter | Qt::AlignTop, userLine());
}

QString CVOKDlg::userLine() const
{
    if (m_user.userName.isEmpty())
        return {};
    const int classNumber = classNumberOf(m_user.classText);
    QString line = QStringLiteral("用户：%1　部门：%2　权限：%3")
                       .arg(m_user.userName, m_user.department, QString::number(classNumber));
    if (isReadOnlyClass(classNumber))
        line += QStringLiteral("（只读，不能修改数据）");
    return line;
}

} // namespace vok
