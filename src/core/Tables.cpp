#include "core/Tables.h"

#include "core/TableReport.h"

namespace vok {

namespace {

using Q = QueryForm;

constexpr TableColumn kDeviceCodeColumns[] = {{u"设备号"}, {u"设备名"}};
constexpr QueryField kDeviceCodeFields[] = {
    {u"设备号c", u"code", Q::Text},
    {u"设备名c", u"name", Q::Text},
};

constexpr TableColumn kDeviceColumns[] = {
    {u"设备号"}, {u"现存数量", true}, {u"最大数量", true}, {u"最小数量", true}, {u"总数", true}};
constexpr QueryField kDeviceFields[] = {
    {u"设备号c", u"code", Q::Text},
    {u"现存数量d", u"now_number", Q::Number},
    {u"最大数量d", u"high_number", Q::Number},
    {u"最小数量d", u"low_number", Q::Number},
    {u"总数d", u"total_number", Q::Number},
};

constexpr TableColumn kDeviceInColumns[] = {
    {u"设备号"},     {u"入库时间"},   {u"供应商"}, {u"供应商电话"},
    {u"数量", true}, {u"价格", true}, {u"采购员"},
};
constexpr QueryField kDeviceInFields[] = {
    {u"设备号c", u"code", Q::Text},      {u"入库时间c", u"in_date", Q::Date},
    {u"供应商c", u"provider", Q::Text},  {u"供应商电话c", u"teleno", Q::Text},
    {u"数量d", u"in_number", Q::Number}, {u"价格d", u"price", Q::Number},
    {u"采购员c", u"buyer", Q::Text},
};

constexpr TableColumn kDeviceOutColumns[] = {
    {u"设备号"}, {u"使用部门"},       {u"出库时间"}, {u"出库状况"},
    {u"经手人"}, {u"出库数量", true}, {u"领取人"},   {u"用途"},
};
constexpr QueryField kDeviceOutFields[] = {
    {u"设备号c", u"code", Q::Text},       {u"使用部门c", u"department", Q::Text},
    {u"出库时间c", u"out_date", Q::Date}, {u"出库状况c", u"out_state", Q::Text},
    {u"经手人c", u"out_person", Q::Text}, {u"出库数量d", u"out_number", Q::Number},
    {u"领取人c", u"taker", Q::Text},      {u"用途c", u"usage", Q::Text},
};

constexpr TableColumn kDeviceReturnColumns[] = {
    {u"设备号"}, {u"还库时间"}, {u"管理员"}, {u"数量", true}, {u"归还人"},
};
constexpr QueryField kDeviceReturnFields[] = {
    {u"设备号c", u"code", Q::Text},          {u"还库时间c", u"return_date", Q::Date},
    {u"管理员c", u"keeper", Q::Text},        {u"数量d", u"return_number", Q::Number},
    {u"归还人c", u"return_person", Q::Text},
};

constexpr TableColumn kDeviceNeedColumns[] = {
    {u"设备号"}, {u"需求部门"}, {u"开始时间"}, {u"结束时间"}, {u"数量"},
};
constexpr QueryField kDeviceNeedFields[] = {
    {u"设备号c", u"code", Q::Text},         {u"需求部门c", u"department", Q::Text},
    {u"开始时间c", u"begin_date", Q::Date}, {u"结束时间c", u"end_date", Q::Date},
    {u"数量d", u"need_number", Q::Number},
};

constexpr TableColumn kDeviceWantBuyColumns[] = {
    {u"设备号"},   {u"现有库存"}, {u"总库存"}, {u"最大库存"},
    {u"购买数量"}, {u"供应商"},   {u"价格"},   {u"计划时间"},
};
constexpr QueryField kDeviceWantBuyFields[] = {
    {u"设备号c", u"code", Q::Text},           {u"现有库存d", u"now_number", Q::Number},
    {u"总库存d", u"total_number", Q::Number}, {u"最大库存d", u"max_number", Q::Number},
    {u"购买数量d", u"buy_number", Q::Number}, {u"供应商c", u"provider", Q::Text},
    {u"价格d", u"price", Q::Number},          {u"计划时间c", u"buy_date", Q::Date},
};

// The log's columns are read by name.
constexpr TableColumn kHowdoColumns[] = {
    {u"操作员", false, u"do_user"},
    {u"操作日期", false, u"do_date"},
    {u"操作内容", false, u"do_what"},
};

constexpr TableColumn kDeviceAdjustColumns[] = {
    {u"设备号"},           {u"调整时间"}, {u"调整前数量", true},
    {u"调整后数量", true}, {u"原因"},     {u"操作员"},
};
constexpr QueryField kDeviceAdjustFields[] = {
    {u"设备号c", u"code", Q::Text},
    {u"调整时间c", u"adjust_time", Q::Date},
    {u"原因c", u"reason", Q::Text},
    {u"操作员c", u"user_name", Q::Text},
};

// The loan list names its columns: it leaves some of the table's out.
constexpr TableColumn kDeviceLoanColumns[] = {
    {u"单号", false, u"line"},           {u"设备号", false, u"code"},
    {u"借用数量", true, u"loan_number"}, {u"借用人", false, u"borrower"},
    {u"部门", false, u"department"},     {u"借出时间", false, u"lent_at"},
    {u"应还日期", false, u"due_date"},   {u"已还", true, u"returned_number"},
    {u"损坏", true, u"damaged_number"},  {u"状态", false, u"state"},
    {u"经手人", false, u"handler"},      {u"备注", false, u"note"},
};
constexpr QueryField kDeviceLoanFields[] = {
    {u"设备号c", u"code", Q::Text},       {u"借用人c", u"borrower", Q::Text},
    {u"部门c", u"department", Q::Text},   {u"借出时间c", u"lent_at", Q::Date},
    {u"应还日期c", u"due_date", Q::Date}, {u"经手人c", u"handler", Q::Text},
};

// The transfers' lists, every column: both sides compare.
constexpr TableColumn kTransferOutColumns[] = {
    {u"调拨单号"}, {u"调入部门"}, {u"调出时间"}, {u"调出人"}, {u"备注"},
    {u"状态"},     {u"送达时间"}, {u"接收时间"}, {u"接收人"},
};
constexpr QueryField kTransferOutFields[] = {
    {u"调拨单号c", u"transfer_id", Q::Text}, {u"调入部门c", u"target", Q::Text},
    {u"调出时间c", u"sent_at", Q::Date},     {u"状态c", u"state", Q::Text},
    {u"接收时间c", u"received_at", Q::Date},
};
constexpr TableColumn kTransferInColumns[] = {
    {u"调拨单号"}, {u"调出部门"}, {u"调出时间"}, {u"调出人"},   {u"备注"},
    {u"状态"},     {u"接收时间"}, {u"接收人"},   {u"回执时间"},
};
constexpr QueryField kTransferInFields[] = {
    {u"调拨单号c", u"transfer_id", Q::Text}, {u"调出部门c", u"source", Q::Text},
    {u"调出时间c", u"sent_at", Q::Date},     {u"状态c", u"state", Q::Text},
    {u"接收时间c", u"received_at", Q::Date},
};
constexpr TableColumn kTransferLineColumns[] = {
    {u"行号"}, {u"调拨单号"},       {u"设备号"},         {u"设备名"},
    {u"单价"}, {u"调出数量", true}, {u"实收数量", true}, {u"差异原因"},
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

namespace tables {
const TableDescription deviceCode{&schema::DeviceCode, kDeviceCodeColumns, kDeviceCodeFields};
const TableDescription device{&schema::Device, kDeviceColumns, kDeviceFields, &reports::stock};
const TableDescription deviceIn{&schema::DeviceIn, kDeviceInColumns, kDeviceInFields,
                                &reports::stockIn};
const TableDescription deviceOut{&schema::DeviceOut, kDeviceOutColumns, kDeviceOutFields,
                                 &reports::stockOut};
const TableDescription deviceReturn{&schema::DeviceReturn, kDeviceReturnColumns,
                                    kDeviceReturnFields, &reports::returns};
const TableDescription deviceNeed{&schema::DeviceNeed, kDeviceNeedColumns, kDeviceNeedFields,
                                  &reports::demand};
const TableDescription deviceWantBuy{&schema::DeviceWantBuy, kDeviceWantBuyColumns,
                                     kDeviceWantBuyFields, &reports::purchasePlan};
const TableDescription howdo{&schema::Howdo, kHowdoColumns, {}, &reports::operationLog};
const TableDescription user{&schema::User, kUserColumns};
const TableDescription deviceAdjust{&schema::DeviceAdjust, kDeviceAdjustColumns,
                                    kDeviceAdjustFields, &reports::adjustments};
const TableDescription deviceLoan{&schema::DeviceLoan, kDeviceLoanColumns, kDeviceLoanFields,
                                  &reports::loans};
const TableDescription transferOut{&schema::TransferOut, kTransferOutColumns, kTransferOutFields,
                                   &reports::transfersOut};
const TableDescription transferOutLine{&schema::TransferOutLine, kTransferLineColumns,
                                       kTransferLineFields};
const TableDescription transferIn{&schema::TransferIn, kTransferInColumns, kTransferInFields,
                                  &reports::transfersIn};
const TableDescription transferInLine{&schema::TransferInLine, kTransferLineColumns,
                                      kTransferLineFields};
} // namespace tables

std::span<const TableDescription* const> browserTables()
{
    static const TableDescription* const all[] = {
        &tables::device,     &tables::deviceIn,      &tables::deviceOut, &tables::deviceReturn,
        &tables::deviceNeed, &tables::deviceWantBuy, &tables::howdo,     &tables::deviceAdjust};
    return all;
}

const TableDescription* findBrowserTable(QStringView name)
{
    for (const TableDescription* t : browserTables())
        if (t->name().compare(name, Qt::CaseInsensitive) == 0)
            return t;
    return nullptr;
}

QString tableCaption(QStringView name)
{
    static const std::pair<const TableDef*, const char16_t*> captions[] = {
        {&schema::DeviceCode, u"设备代码"},
        {&schema::Device, u"设备库存"},
        {&schema::DeviceIn, u"设备入库"},
        {&schema::DeviceOut, u"设备出库"},
        {&schema::DeviceReturn, u"设备还库"},
        {&schema::DeviceNeed, u"部门需求"},
        {&schema::DeviceWantBuy, u"设备采购计划"},
        {&schema::Howdo, u"操作日志"},
        {&schema::User, u"用户"},
        {&schema::DeviceAdjust, u"库存调整"},
        {&schema::DeviceLoan, u"设备借用"},
        {&schema::DeviceLoanEvent, u"借用记录"},
        {&schema::TransferOut, u"调拨出库"},
        {&schema::TransferOutLine, u"调拨出库明细"},
        {&schema::TransferIn, u"调拨入库"},
        {&schema::TransferInLine, u"调拨入库明细"},
        {&schema::DevicePeriod, u"月结数据"},
        {&schema::PeriodClose, u"已月结月份"}};
    for (const auto& [def, caption] : captions)
        if (def->name.compare(name, Qt::CaseInsensitive) == 0)
            return QString::fromUtf16(caption);
    return name.toString();
}

} // namespace vok
