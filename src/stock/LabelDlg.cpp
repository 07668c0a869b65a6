#include "stock/LabelDlg.h"

#include "core/LabelSymbol.h"
#include "core/ProgramSettings.h"
#include "ui/DialogStyle.h"
#include "ui/MessageService.h"
#include "ui/PrintReport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vok {

namespace {

const QString kSheetKey = QStringLiteral("labels/sheet");
const QString kAfterStockInKey = QStringLiteral("labels/afterStockIn");

} // namespace

CLabelDlg::CLabelDlg(QList<DeviceLabel> labels, QWidget* parent)
    : QDialog(parent), m_labels(std::move(labels))
{
    setObjectName(QStringLiteral("labels"));
    setWindowTitle(QStringLiteral("打印标签"));
    m_sheet = new QComboBox(this);
    m_sheet->setObjectName(QStringLiteral("sheet"));
    for (const LabelSheet* s : allLabelSheets())
        m_sheet->addItem(s->caption.toString(), s->key.toString());
    m_first = new QSpinBox(this);
    m_first->setObjectName(QStringLiteral("firstPosition"));

    auto* form = new QFormLayout;
    auto* sheetLabel = new QLabel(QStringLiteral("标签纸(&L)："), this);
    sheetLabel->setBuddy(m_sheet);
    form->addRow(sheetLabel, m_sheet);
    auto* firstLabel = new QLabel(QStringLiteral("从第几张开始(&S)："), this);
    firstLabel->setBuddy(m_first);
    form->addRow(firstLabel, m_first);
    auto* count = new QLabel(QStringLiteral("共 %1 张标签。").arg(m_labels.size()), this);
    count->setObjectName(QStringLiteral("count"));
    form->addRow(count);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* print =
        buttons->addButton(QStringLiteral("打印(&P)…"), QDialogButtonBox::AcceptRole);
    print->setObjectName(QStringLiteral("print"));
    print->setDefault(true);
    QPushButton* preview =
        buttons->addButton(QStringLiteral("预览(&V)…"), QDialogButtonBox::ActionRole);
    preview->setObjectName(QStringLiteral("preview"));
    QPushButton* close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    connect(print, &QPushButton::clicked, this, &CLabelDlg::onPrint);
    connect(preview, &QPushButton::clicked, this, &CLabelDlg::onPreview);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    m_sheet->setCurrentIndex(m_sheet->findData(rememberedSheet().key.toString()));
    sheetChosen();
    connect(m_sheet, &QComboBox::currentIndexChanged, this, &CLabelDlg::sheetChosen);
    applyProgramStyle(this);
}

const LabelSheet& CLabelDlg::rememberedSheet()
{
    const LabelSheet* s = findLabelSheet(programSettings().value(kSheetKey).toString());
    return s ? *s : labelSheets::a4;
}

bool CLabelDlg::printAfterStockIn()
{
    return programSettings().value(kAfterStockInKey, false).toBool();
}

void CLabelDlg::setPrintAfterStockIn(bool on)
{
    programSettings().setValue(kAfterStockInKey, on);
}

const LabelSheet& CLabelDlg::sheet() const
{
    const LabelSheet* s = findLabelSheet(m_sheet->currentData().toString());
    return s ? *s : labelSheets::a4;
}

int CLabelDlg::firstPosition() const
{
    return m_first->value() - 1;
}

void CLabelDlg::sheetChosen()
{
    m_first->setRange(1, sheet().perPage());
    m_first->setValue(1);
    m_first->setEnabled(sheet().perPage() > 1);
}

void CLabelDlg::remember() const
{
    programSettings().setValue(kSheetKey, sheet().key.toString());
}

bool CLabelDlg::codesPrintable()
{
    for (const DeviceLabel& label : m_labels)
        if (const QString problem = labelCodeProblem(label.code); !problem.isEmpty()) {
            Messages::notice(problem, this, QString(), Messages::Icon::Exclamation);
            return false;
        }
    return true;
}

void CLabelDlg::onPrint()
{
    if (!codesPrintable())
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("设备标签"));
    setUpLabelPrinter(printer, sheet());
    if (!PrintService::choosePrinter(printer, this))
        return;
    // Choosing a printer gives it that printer's default paper (US Letter,
    // A4): the page is the sheet again.
    setUpLabelPrinter(printer, sheet());
    remember();
    if (!printLabels(printer, sheet(), m_labels, firstPosition())) {
        Messages::notice(QStringLiteral("无法打开打印机，标签没有打印。请检查打印机后再试。"), this,
                         QString(), Messages::Icon::Exclamation);
        return;
    }
    accept();
}

void CLabelDlg::onPreview()
{
    if (!codesPrintable())
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("设备标签"));
    setUpLabelPrinter(printer, sheet());
    remember();
    QPrintPreviewDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("printPreview"));
    dialog.setWindowTitle(QStringLiteral("打印预览 - 设备标签"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* target) {
        // Printing from the preview chooses a printer too.
        setUpLabelPrinter(*target, sheet());
        printLabels(*target, sheet(), m_labels, firstPosition());
    });
    fitPreviewToScreen(dialog);
    dialog.exec();
}

} // namespace vok
