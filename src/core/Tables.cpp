#include "core/Tables.h"

#include "core/TableReport.h"

namespace vok {

namespace {

using Q = QueryForm;
using R = FieldRule;

// The quantity a movement, a demand, a plan or a loan carries, and a price.
constexpr FieldRule kQuantity{.kind = R::Number, .min = 1, .max = 10000, .required = true};
// A receipt may count none of a line that went missing on the way.
constexpr FieldRule kReceived{.kind = R::Number, .min = 0, .max = 10000, .required = true};
constexpr FieldRule kCode{.kind = R::Code, .required = true};
constexpr FieldRule kWhen{.kind = R::Date, .required = true};
constexpr FieldRule kOpeningPrice{.kind = R::Number, .min = 0, .max = 10000};

constexpr TableColumn kDeviceCodeColumns[] = {
    {.heading = u"设备号", .rule = {.kind = R::NewCode, .required = true}},
    {.heading = u"设备名", .otherHeadings = u"设备名称"}};
constexpr QueryField kDeviceCodeFields[] = {
    {u"设备号c", u"code", Q::Text},
    {u"设备名c", u"name", Q::Text},
};

constexpr TableColumn kDeviceColumns[] = {
    {.heading = u"设备号", .rule = {.kind = R::StockCode, .required = true}, .printed = {{}, 1300}},
    {.heading = u"现存数量",
     .single = true,
     .rule = {.kind = R::Figure, .min = 0, .required = true},
     .printed = {u"现在数量", 2300},
     .otherHeadings = u"现在数量|现有数量|账面数量"},
    {.heading = u"最大数量",
     .single = true,
     .rule = kQuantity,
     .printed = {{}, 3300},
     .otherHeadings = u"最大库存"},
    {.heading = u"最小数量", .single = true, .rule = kQuantity, .printed = {{}, 4300}},
    {.heading = u"总数",
     .single = true,
     .rule = {.kind = R::Figure, .min = 1},
     .printed = {u"总　数", 5300},
     .otherHeadings = u"总库存"}};
constexpr QueryField kDeviceFields[] = {
    {u"设备号c", u"code", Q::Text},
    {u"现存数量d", u"now_number", Q::Number},
    {u"最大数量d", u"high_number", Q::Number},
    {u"最小数量d", u"low_number", Q::Number},
    {u"总数d", u"total_number", Q::Number},
};
constexpr int kStockRules[] = {1200, 2200, 3200, 4200, 5200, 6200};

constexpr TableColumn kDeviceInColumns[] = {
    {.heading = u"设备号", .rule = kCode, .printed = {{}, 300}, .otherHeadings = u"入库设备"},
    {.heading = u"入库时间", .rule = kWhen, .printed = {{}, 1000}, .otherHeadings = u"入库日期"},
    {.heading = u"供应商", .printed = {u"供　应　商", 3000}},
    {.heading = u"供应商电话", .printed = {{}, 4000}, .otherHeadings = u"商家电话"},
    {.heading = u"数量",
     .single = true,
     .rule = kQuantity,
     .printed = {u"数　量", 5300},
     .otherHeadings = u"入库数量"},
    {.heading = u"价格", .single = true, .rule = kQuantity, .printed = {u"价　格", 6100}},
    {.heading = u"采购员", .printed = {{}, 6900}},
};
constexpr QueryField kDeviceInFields[] = {
    {u"设备号c", u"code", Q::Text},      {u"入库时间c", u"in_date", Q::Date},
    {u"供应商c", u"provider", Q::Text},  {u"供应商电话c", u"teleno", Q::Text},
    {u"数量d", u"in_number", Q::Number}, {u"价格d", u"price", Q::Number},
    {u"采购员c", u"buyer", Q::Text},
};
constexpr int kStockInRules[] = {200, 900, 2900, 3900, 5200, 6000, 6800, 7600};

constexpr TableColumn kDeviceOutColumns[] = {
    {.heading = u"设备号", .rule = kCode, .printed = {{}, 300}, .otherHeadings = u"出库设备"},
    {.heading = u"使用部门", .printed = {{}, 1000}, .otherHeadings = u"部门"},
    {.heading = u"出库时间",
     .rule = kWhen,
     .printed = {u"出　库　时　间", 2000},
     .otherHeadings = u"出库日期"},
    {.heading = u"出库状况",
     .rule = {.kind = R::Integer, .min = 0, .max = 9, .absent = u"0"},
     .printed = {{}, 3400},
     .otherHeadings = u"出库状态"},
    {.heading = u"经手人", .printed = {{}, 4300}},
    {.heading = u"出库数量",
     .single = true,
     .rule = kQuantity,
     .printed = {{}, 5000},
     .otherHeadings = u"数量"},
    {.heading = u"领取人", .printed = {{}, 6000}},
    {.heading = u"用途", .rule = {.multiLine = true}, .printed = {u"用　　　途", 6700}},
};
constexpr QueryField kDeviceOutFields[] = {
    {u"设备号c", u"code", Q::Text},       {u"使用部门c", u"department", Q::Text},
    {u"出库时间c", u"out_date", Q::Date}, {u"出库状况c", u"out_state", Q::Text},
    {u"经手人c", u"out_person", Q::Text}, {u"出库数量d", u"out_number", Q::Number},
    {u"领取人c", u"taker", Q::Text},      {u"用途c", u"usage", Q::Text},
};
constexpr int kStockOutRules[] = {200, 900, 1900, 3300, 4200, 4900, 5900, 6600, 7600};

constexpr TableColumn kDeviceReturnColumns[] = {
    {.heading = u"设备号", .rule = kCode, .printed = {{}, 1300}},
    {.heading = u"还库时间",
     .rule = kWhen,
     .printed = {u"　还　库　时　间", 2300},
     .otherHeadings = u"还库日期"},
    {.heading = u"管理员", .printed = {u"管　理　员", 4300}},
    {.heading = u"数量",
     .single = true,
     .rule = kQuantity,
     .printed = {u"数　　　量", 5300},
     .otherHeadings = u"还库数量"},
    {.heading = u"归还人", .printed = {u"归　还　人", 6300}},
};
constexpr QueryField kDeviceReturnFields[] = {
    {u"设备号c", u"code", Q::Text},          {u"还库时间c", u"return_date", Q::Date},
    {u"管理员c", u"keeper", Q::Text},        {u"数量d", u"return_number", Q::Number},
    {u"归还人c", u"return_person", Q::Text},
};
constexpr int kReturnRules[] = {1200, 2200, 4200, 5200, 6200, 7200};

constexpr TableColumn kDeviceNeedColumns[] = {
    {.heading = u"设备号", .rule = kCode, .printed = {{}, 700}},
    {.heading = u"需求部门",
     .rule = {.kind = R::Text, .required = true, .maxBytes = 10},
     .printed = {{}, 1700},
     .otherHeadings = u"部门"},
    {.heading = u"开始时间", .rule = kWhen, .printed = {u"　开　始　时　间", 2700}},
    {.heading = u"结束时间", .rule = kWhen, .printed = {u"　结　束　时　间", 4700}},
    {.heading = u"数量",
     .rule = kQuantity,
     .printed = {u"数　　量", 6700},
     .otherHeadings = u"设备数量|需求数量"},
};
constexpr QueryField kDeviceNeedFields[] = {
    {u"设备号c", u"code", Q::Text},         {u"需求部门c", u"department", Q::Text},
    {u"开始时间c", u"begin_date", Q::Date}, {u"结束时间c", u"end_date", Q::Date},
    {u"数量d", u"need_number", Q::Number},
};
constexpr int kDemandRules[] = {700, 1600, 2600, 4600, 6600, 7600};

constexpr FieldRule kPlanFigure{.kind = R::AnyNumber, .required = true};
constexpr TableColumn kDeviceWantBuyColumns[] = {
    {.heading = u"设备号", .rule = kCode, .printed = {{}, 300}},
    {.heading = u"现有库存",
     .rule = kPlanFigure,
     .printed = {{}, 1000},
     .otherHeadings = u"现有数量|现存数量"},
    {.heading = u"总库存", .rule = kPlanFigure, .printed = {{}, 1800}, .otherHeadings = u"总数"},
    {.heading = u"最大库存",
     .rule = kPlanFigure,
     .printed = {{}, 2600},
     .otherHeadings = u"最大数量"},
    {.heading = u"购买数量",
     .rule = kQuantity,
     .printed = {{}, 3400},
     .otherHeadings = u"采购数量"},
    {.heading = u"供应商", .printed = {{}, 4200}},
    {.heading = u"价格", .rule = kQuantity, .printed = {u"价　格", 5000}},
    {.heading = u"计划时间",
     .rule = kWhen,
     .printed = {u"　计　划　时　间", 5800},
     .otherHeadings = u"报表时间"},
};
constexpr QueryField kDeviceWantBuyFields[] = {
    {u"设备号c", u"code", Q::Text},           {u"现有库存d", u"now_number", Q::Number},
    {u"总库存d", u"total_number", Q::Number}, {u"最大库存d", u"max_number", Q::Number},
    {u"购买数量d", u"buy_number", Q::Number}, {u"供应商c", u"provider", Q::Text},
    {u"价格d", u"price", Q::Number},          {u"计划时间c", u"buy_date", Q::Date},
};
constexpr int kPurchasePlanRules[] = {200, 900, 1700, 2500, 3300, 4100, 4900, 5700, 7600};

// The log's columns are read by name.
constexpr TableColumn kHowdoColumns[] = {
    {.heading = u"操作员", .source = u"do_user", .printed = {{}, 300}},
    {.heading = u"操作日期", .source = u"do_date", .printed = {u"操　作　日　期", 1500}},
    {.heading = u"操作内容", .source = u"do_what", .printed = {u"操　作　内　容", 3100}},
};
constexpr int kOperationLogRules[] = {200, 1400, 3000, 7600};

constexpr TableColumn kDeviceAdjustColumns[] = {
    {.heading = u"设备号", .printed = {{}, 300}},
    {.heading = u"调整时间", .printed = {u"　调　整　时　间", 1200}},
    {.heading = u"调整前数量", .single = true, .printed = {{}, 3100}},
    {.heading = u"调整后数量", .single = true, .printed = {{}, 4200}},
    {.heading = u"原因", .printed = {u"原　　因", 5400}},
    {.heading = u"操作员", .printed = {{}, 6700}},
    // An opening quantity's unit price: a stock-in's range, 0 allowed.
    {.heading = u"单价", .single = true, .rule = kOpeningPrice, .otherHeadings = u"期初单价"},
};
constexpr QueryField kDeviceAdjustFields[] = {
    {u"设备号c", u"code", Q::Text},
    {u"调整时间c", u"adjust_time", Q::Date},
    {u"原因c", u"reason", Q::Text},
    {u"操作员c", u"user_name", Q::Text},
};
constexpr int kAdjustmentRules[] = {200, 1100, 3000, 4100, 5200, 6500, 7600};

// The loan list names its columns: it leaves some of the table's out, and
// its report the last two of the list's.
constexpr TableColumn kDeviceLoanColumns[] = {
    {.heading = u"单号", .source = u"line", .printed = {{}, 300}},
    {.heading = u"设备号", .source = u"code", .printed = {{}, 800}},
    {.heading = u"借用数量",
     .single = true,
     .source = u"loan_number",
     .rule = kQuantity,
     .printed = {{}, 1400}},
    {.heading = u"借用人", .source = u"borrower", .printed = {{}, 2100}},
    {.heading = u"部门", .source = u"department", .printed = {{}, 2950}},
    {.heading = u"借出时间", .source = u"lent_at", .printed = {{}, 3900}},
    {.heading = u"应还日期", .source = u"due_date", .printed = {{}, 5050}},
    {.heading = u"已还", .single = true, .source = u"returned_number", .printed = {{}, 6000}},
    {.heading = u"损坏", .single = true, .source = u"damaged_number", .printed = {{}, 6600}},
    {.heading = u"状态", .source = u"state", .printed = {{}, 7200}},
    {.heading = u"经手人", .source = u"handler"},
    {.heading = u"备注", .source = u"note"},
};
constexpr QueryField kDeviceLoanFields[] = {
    {u"设备号c", u"code", Q::Text},       {u"借用人c", u"borrower", Q::Text},
    {u"部门c", u"department", Q::Text},   {u"借出时间c", u"lent_at", Q::Date},
    {u"应还日期c", u"due_date", Q::Date}, {u"经手人c", u"handler", Q::Text},
};
constexpr int kLoanRules[] = {200, 750, 1350, 1950, 2750, 3550, 4950, 5850, 6450, 7050, 7700};

// The steps of a loan have no list; a step's quantity (returned, damaged,
// repaired) keeps a loan's rule.
constexpr TableColumn kDeviceLoanEventColumns[] = {
    {.heading = u"数量", .single = true, .source = u"event_number", .rule = kQuantity},
};

// The transfers' lists, every column: both sides compare.
// A transfer's report prints its first six columns: the id, the other
// department, the time sent, the sender, the note and the state.
constexpr TableColumn kTransferOutColumns[] = {
    {.heading = u"调拨单号", .printed = {{}, 300}},
    {.heading = u"调入部门", .printed = {{}, 2500}},
    {.heading = u"调出时间", .printed = {{}, 3300}},
    {.heading = u"调出人", .printed = {{}, 4550}},
    {.heading = u"备注", .printed = {{}, 5350}},
    {.heading = u"状态", .printed = {{}, 7000}},
    {u"送达时间"},
    {u"接收时间"},
    {u"接收人"},
};
constexpr QueryField kTransferOutFields[] = {
    {u"调拨单号c", u"transfer_id", Q::Text}, {u"调入部门c", u"target", Q::Text},
    {u"调出时间c", u"sent_at", Q::Date},     {u"状态c", u"state", Q::Text},
    {u"接收时间c", u"received_at", Q::Date},
};
constexpr TableColumn kTransferInColumns[] = {
    {.heading = u"调拨单号", .printed = {{}, 300}},
    {.heading = u"调出部门", .printed = {{}, 2500}},
    {.heading = u"调出时间", .printed = {{}, 3300}},
    {.heading = u"调出人", .printed = {{}, 4550}},
    {.heading = u"备注", .printed = {{}, 5350}},
    {.heading = u"状态", .printed = {{}, 7000}},
    {u"接收时间"},
    {u"接收人"},
    {u"回执时间"},
};
constexpr int kTransferRules[] = {200, 2400, 3200, 4450, 5250, 6900, 7700};
constexpr QueryField kTransferInFields[] = {
    {u"调拨单号c", u"transfer_id", Q::Text}, {u"调出部门c", u"source", Q::Text},
    {u"调出时间c", u"sent_at", Q::Date},     {u"状态c", u"state", Q::Text},
    {u"接收时间c", u"received_at", Q::Date},
};
constexpr TableColumn kTransferLineColumns[] = {
    {u"行号"},
    {u"调拨单号"},
    {u"设备号"},
    {u"设备名"},
    {u"单价"},
    {.heading = u"调出数量", .single = true, .rule = kQuantity},
    {.heading = u"实收数量", .single = true, .rule = kReceived},
    {u"差异原因"},
};
constexpr QueryField kTransferLineFields[] = {
    {u"调拨单号c", u"transfer_id", Q::Text},
    {u"设备号c", u"code", Q::Text},
    {u"设备名c", u"name", Q::Text},
    {u"调出数量d", u"quantity", Q::Number},
    {u"实收数量d", u"received_number", Q::Number},
    {u"差异原因c", u"reason", Q::Text},
};

constexpr TableColumn kUserColumns[] = {{u"用户名"}, {u"口令"}, {u"类别"}};

// A table's report: the layout with the columns its description prints.
ReportLayout printedReport(std::span<const TableColumn> columns, ReportLayout layout)
{
    for (const TableColumn& c : columns)
        if (c.printed.x > 0)
            layout.columns.push_back(
                {c.printed.heading.isEmpty() ? c.heading : c.printed.heading, c.printed.x});
    return layout;
}

} // namespace

std::vector<RecordListModel::Column> TableDescription::listColumns() const
{
    std::vector<RecordListModel::Column> out;
    for (size_t i = 0; i < columns.size(); ++i) {
        const TableColumn& c = columns[i];
        const int at = c.source.isEmpty() ? int(i) : def->indexOf(c.source);
        // A number the table keeps as text (a plan's or a demand's
        // quantities and prices).
        const bool figure = at >= 0 && at < int(def->columns.size()) &&
                            def->columns[size_t(at)].kind == ColumnKind::Number &&
                            def->columns[size_t(at)].field == FieldKind::Text;
        out.push_back({c.heading.toString(),
                       c.single ? ListColumn::Single
                       : figure ? ListColumn::Figure
                                : ListColumn::Text,
                       c.source.toString()});
    }
    return out;
}

const TableColumn* TableDescription::describing(int column) const
{
    for (size_t i = 0; i < columns.size(); ++i) {
        const TableColumn& c = columns[i];
        if (c.source.isEmpty() ? int(i) == column : def->indexOf(c.source) == column)
            return &c;
    }
    return nullptr;
}

FieldRule TableDescription::rule(int column) const
{
    const TableColumn* c = describing(column);
    return c ? c->rule : FieldRule{};
}

int TableDescription::maxBytes(int column) const
{
    const int bytes = rule(column).maxBytes;
    return bytes == FieldRule::kColumnBytes ? def->columns.at(size_t(column)).capacity - 1 : bytes;
}

namespace reports {
const ReportLayout stock = printedReport(kDeviceColumns, {.title = u"库存信息表",
                                                          .bodyPoints = 12,
                                                          .rules = kStockRules,
                                                          .leftDash = {2200, 3200},
                                                          .rightDash = {4200, 6200},
                                                          .preparerX = 1300,
                                                          .timeLabelX = 3300,
                                                          .underlineEnd = 5000,
                                                          .integerQuantities = true});
const ReportLayout stockIn = printedReport(
    kDeviceInColumns, {.title = u"入库信息表", .bodyPoints = 8, .rules = kStockInRules});
const ReportLayout stockOut = printedReport(
    kDeviceOutColumns, {.title = u"出库信息表", .bodyPoints = 8, .rules = kStockOutRules});
const ReportLayout returns = printedReport(kDeviceReturnColumns, {.title = u"还库信息表",
                                                                  .rules = kReturnRules,
                                                                  .leftDash = {2200, 3200},
                                                                  .rightDash = {4200, 6200},
                                                                  .preparerX = 1300,
                                                                  .timeLabelX = 3300,
                                                                  .underlineEnd = 5000});
const ReportLayout demand = printedReport(
    kDeviceNeedColumns,
    {.title = u"需求信息表", .rules = kDemandRules, .preparerX = 600, .underlineEnd = 5000});
const ReportLayout purchasePlan =
    printedReport(kDeviceWantBuyColumns, {.title = u"采购计划报表", .rules = kPurchasePlanRules});
const ReportLayout operationLog =
    printedReport(kHowdoColumns, {.title = u"操作日志表", .rules = kOperationLogRules});
const ReportLayout adjustments =
    printedReport(kDeviceAdjustColumns, {.title = u"库存调整表", .rules = kAdjustmentRules});
const ReportLayout loans = printedReport(
    kDeviceLoanColumns, {.title = u"借用信息表", .bodyPoints = 8, .rules = kLoanRules});
const ReportLayout transfersOut = printedReport(
    kTransferOutColumns, {.title = u"调出信息表", .bodyPoints = 8, .rules = kTransferRules});
const ReportLayout transfersIn = printedReport(
    kTransferInColumns, {.title = u"调入信息表", .bodyPoints = 8, .rules = kTransferRules});
} // namespace reports

namespace tables {
const TableDescription deviceCode{.def = &schema::DeviceCode,
                                  .caption = u"设备代码",
                                  .columns = kDeviceCodeColumns,
                                  .queryFields = kDeviceCodeFields,
                                  .imported = true,
                                  .rowsCaption = u"设备代码"};
const TableDescription device{.def = &schema::Device,
                              .caption = u"设备库存",
                              .columns = kDeviceColumns,
                              .queryFields = kDeviceFields,
                              .report = &reports::stock,
                              .printedByName = true,
                              .imported = true,
                              .rowsCaption = u"库存"};
const TableDescription deviceIn{.def = &schema::DeviceIn,
                                .caption = u"设备入库",
                                .columns = kDeviceInColumns,
                                .queryFields = kDeviceInFields,
                                .report = &reports::stockIn,
                                .printedByName = true,
                                .imported = true,
                                .rowsCaption = u"入库记录"};
const TableDescription deviceOut{.def = &schema::DeviceOut,
                                 .caption = u"设备出库",
                                 .columns = kDeviceOutColumns,
                                 .queryFields = kDeviceOutFields,
                                 .report = &reports::stockOut,
                                 .printedByName = true,
                                 .imported = true,
                                 .rowsCaption = u"出库记录"};
const TableDescription deviceReturn{.def = &schema::DeviceReturn,
                                    .caption = u"设备还库",
                                    .columns = kDeviceReturnColumns,
                                    .queryFields = kDeviceReturnFields,
                                    .report = &reports::returns,
                                    .printedByName = true,
                                    .imported = true,
                                    .rowsCaption = u"还库记录"};
const TableDescription deviceNeed{.def = &schema::DeviceNeed,
                                  .caption = u"部门需求",
                                  .columns = kDeviceNeedColumns,
                                  .queryFields = kDeviceNeedFields,
                                  .report = &reports::demand,
                                  .printedByName = true,
                                  .imported = true,
                                  .rowsCaption = u"需求记录"};
const TableDescription deviceWantBuy{.def = &schema::DeviceWantBuy,
                                     .caption = u"设备采购计划",
                                     .columns = kDeviceWantBuyColumns,
                                     .queryFields = kDeviceWantBuyFields,
                                     .report = &reports::purchasePlan,
                                     .printedByName = true,
                                     .imported = true,
                                     .rowsCaption = u"采购计划"};
const TableDescription howdo{.def = &schema::Howdo,
                             .caption = u"操作日志",
                             .columns = kHowdoColumns,
                             .report = &reports::operationLog,
                             .printedByName = true};
const TableDescription user{.def = &schema::User, .caption = u"用户", .columns = kUserColumns};
const TableDescription deviceAdjust{.def = &schema::DeviceAdjust,
                                    .caption = u"库存调整",
                                    .columns = kDeviceAdjustColumns,
                                    .queryFields = kDeviceAdjustFields,
                                    .report = &reports::adjustments,
                                    .printedByName = true};
const TableDescription deviceLoan{.def = &schema::DeviceLoan,
                                  .caption = u"设备借用",
                                  .columns = kDeviceLoanColumns,
                                  .queryFields = kDeviceLoanFields,
                                  .report = &reports::loans};
const TableDescription deviceLoanEvent{
    .def = &schema::DeviceLoanEvent, .caption = u"借用记录", .columns = kDeviceLoanEventColumns};
const TableDescription transferOut{.def = &schema::TransferOut,
                                   .caption = u"调拨出库",
                                   .columns = kTransferOutColumns,
                                   .queryFields = kTransferOutFields,
                                   .report = &reports::transfersOut};
const TableDescription transferOutLine{.def = &schema::TransferOutLine,
                                       .caption = u"调拨出库明细",
                                       .columns = kTransferLineColumns,
                                       .queryFields = kTransferLineFields};
const TableDescription transferIn{.def = &schema::TransferIn,
                                  .caption = u"调拨入库",
                                  .columns = kTransferInColumns,
                                  .queryFields = kTransferInFields,
                                  .report = &reports::transfersIn};
const TableDescription transferInLine{.def = &schema::TransferInLine,
                                      .caption = u"调拨入库明细",
                                      .columns = kTransferLineColumns,
                                      .queryFields = kTransferLineFields};
const TableDescription devicePeriod{.def = &schema::DevicePeriod, .caption = u"月结数据"};
const TableDescription periodClose{.def = &schema::PeriodClose, .caption = u"已月结月份"};

std::span<const TableDescription* const> all()
{
    static const TableDescription* const every[] = {
        &deviceCode,   &device,          &deviceIn,      &deviceOut,
        &deviceReturn, &deviceNeed,      &deviceWantBuy, &howdo,
        &user,         &deviceAdjust,    &deviceLoan,    &deviceLoanEvent,
        &transferOut,  &transferOutLine, &transferIn,    &transferInLine,
        &devicePeriod, &periodClose};
    return every;
}

const TableDescription* find(QStringView name)
{
    for (const TableDescription* t : all())
        if (t->name().compare(name, Qt::CaseInsensitive) == 0)
            return t;
    return nullptr;
}

QStringList printedNames()
{
    QStringList out;
    for (const TableDescription* t : all())
        if (t->printedByName)
            out << t->name();
    return out;
}

QStringList importedNames()
{
    QStringList out;
    for (const TableDescription* t : all())
        if (t->imported)
            out << t->name();
    return out;
}
} // namespace tables

QString tableCaption(QStringView name)
{
    const TableDescription* t = tables::find(name);
    return t ? t->caption.toString() : name.toString();
}

} // namespace vok
