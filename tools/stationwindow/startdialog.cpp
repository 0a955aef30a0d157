#include "startdialog.h"

#include "stationwindow.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace {

template <typename T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

StartDialog::StartDialog(const CommissionOptions &given, QWidget *parent)
    : QDialog(parent), options_(given)
{
    setObjectName(QStringLiteral("StartDialog"));
    setWindowTitle(StationWindow::tr("开始调试"));
    auto *form = new QFormLayout;

    profile_ = named(new QLineEdit(given.profilePath), "lineEditProfile");
    auto *browse = named(new QPushButton(StationWindow::tr("浏览…")), "pushButtonProfile");
    auto *profileRow = new QHBoxLayout;
    profileRow->addWidget(profile_, 1);
    profileRow->addWidget(browse);
    form->addRow(StationWindow::tr("调试配置文件："), profileRow);

    ports_ = named(new QListWidget, "listPorts");
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        addPort(info.systemLocation(), given.ports.contains(info.systemLocation()));
    for (const QString &port : given.ports)
        addPort(port, true);
    typedPort_ = named(new QLineEdit, "lineEditPort");
    typedPort_->setPlaceholderText(StationWindow::tr("未列出的端口，如 /dev/pts/3"));
    auto *add = named(new QPushButton(StationWindow::tr("添加")), "pushButtonAddPort");
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(typedPort_, 1);
    portRow->addWidget(add);
    auto *portBox = new QVBoxLayout;
    portBox->addWidget(ports_);
    portBox->addLayout(portRow);
    form->addRow(StationWindow::tr("工装端口："), portBox);

    database_ = named(new QLineEdit(given.databaseUrl), "lineEditDatabase");
    form->addRow(StationWindow::tr("结果数据库："), database_);
    operator_ = named(new QLineEdit(given.operatorName), "lineEditOperator");
    form->addRow(StationWindow::tr("操作员："), operator_);

    error_ = named(new QLabel, "labelError");
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #c62828"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(StationWindow::tr("开始"));
    buttons->button(QDialogButtonBox::Cancel)->setText(StationWindow::tr("取消"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(error_);
    layout->addWidget(buttons);
    resize(560, 460);

    connect(browse, &QPushButton::clicked, this, &StartDialog::browseProfile);
    connect(add, &QPushButton::clicked, this, &StartDialog::addTypedPort);
    connect(typedPort_, &QLineEdit::returnPressed, this, &StartDialog::addTypedPort);
    connect(buttons, &QDialogButtonBox::accepted, this, &StartDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &StartDialog::reject);
}

void StartDialog::addPort(const QString &name, bool checked)
{
    QListWidgetItem *item = nullptr;
    const QList<QListWidgetItem *> found = ports_->findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) {
        item = new QListWidgetItem(name, ports_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    } else {
        item = found.first();
    }
    if (checked)
        item->setCheckState(Qt::Checked);
}

void StartDialog::addTypedPort()
{
    const QString name = typedPort_->text().trimmed();
    if (name.isEmpty())
        return;
    addPort(name, true);
    typedPort_->clear();
}

void StartDialog::browseProfile()
{
    const QString path =
        QFileDialog::getOpenFileName(this, StationWindow::tr("选择调试配置文件"), profile_->text(),
                                     StationWindow::tr("调试配置 (*.json);;所有文件 (*)"));
    if (!path.isEmpty())
        profile_->setText(path);
}

CommissionOptions StartDialog::chosen() const
{
    CommissionOptions out = options_;
    out.profilePath = profile_->text().trimmed();
    out.ports.clear();
    for (int i = 0; i < ports_->count(); ++i) {
        if (ports_->item(i)->checkState() == Qt::Checked)
            out.ports << ports_->item(i)->text();
    }
    out.databaseUrl = database_->text().trimmed();
    out.operatorName = operator_->text().trimmed();
    return out;
}

void StartDialog::accept()
{
    // A port typed but not added yet counts too.
    addTypedPort();
    const CommissionOptions choice = chosen();
    QString problem;
    if (choice.profilePath.isEmpty())
        problem = StationWindow::tr("请选择调试配置文件");
    else if (choice.ports.isEmpty())
        problem = StationWindow::tr("请选择或输入至少一个工装端口");
    else
        problem = checkCommissionPorts(choice.ports);
    CommissionStart prepared;
    if (problem.isEmpty()) {
        prepared = prepareCommission(choice);
        problem = prepared.error;
    }
    if (!problem.isEmpty()) {
        error_->setText(problem);
        return;
    }
    options_ = choice;
    start_ = prepared;
    QDialog::accept();
}
