#include "Ui_cMainWindow.h"

#include "guiPalettes.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaObject>
#include <QPixmap>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

namespace {

// Stretch 0 both ways, keeping the height-for-width flag the widget already has.
void setPolicy(QWidget* w, QSizePolicy::Policy h, QSizePolicy::Policy v)
{
    QSizePolicy p(h, v);
    p.setHorizontalStretch(0);
    p.setVerticalStretch(0);
    p.setHeightForWidth(w->sizePolicy().hasHeightForWidth());
    w->setSizePolicy(p);
}

QFont boldFont(int pointSize = -1)
{
    QFont f;
    if (pointSize > 0)
        f.setPointSize(pointSize);
    f.setBold(true);
    f.setWeight(QFont::Bold);
    return f;
}

// Qt's largest widget size, that is, no limit.
constexpr int kNoLimit = QWIDGETSIZE_MAX;

} // namespace

void Ui_cMainWindow::setupUi(QMainWindow* window)
{
    if (window->objectName().isEmpty())
        window->setObjectName("cMainWindow");
    window->resize(589, 442);
    QIcon appIcon;
    appIcon.addFile(":/Other/Pixmaps/appIcon.png", QSize(), QIcon::Normal, QIcon::Off);
    window->setWindowIcon(appIcon);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName("centralWidget");
    centralWidgetLayout = new QVBoxLayout(centralWidget);
    centralWidgetLayout->setObjectName("centralWidgetLayout");
    centralWidgetLayout->setSpacing(6);
    centralWidgetLayout->setContentsMargins(9, 10, 9, 0);

    // The header: logo, application name, the selected item's icon and text.
    HeaderFrame = new QFrame(centralWidget);
    HeaderFrame->setObjectName("HeaderFrame");
    setPolicy(HeaderFrame, QSizePolicy::Preferred, QSizePolicy::Fixed);
    HeaderFrame->setPalette(guiPalettes::frame());
    HeaderFrame->setAutoFillBackground(true);
    HeaderFrame->setFrameShape(QFrame::Box);
    HeaderFrame->setFrameShadow(QFrame::Plain);
    horizontalLayout = new QHBoxLayout(HeaderFrame);
    horizontalLayout->setObjectName("horizontalLayout");
    horizontalLayout->setSpacing(10);
    // -1: the style's margin on the right, where the item text ends.
    horizontalLayout->setContentsMargins(0, 0, -1, 0);
    Logo = new QLabel(HeaderFrame);
    Logo->setObjectName("Logo");
    setPolicy(Logo, QSizePolicy::Fixed, QSizePolicy::Fixed);
    Logo->setPixmap(QPixmap(":/Other/Pixmaps/logo.png"));
    horizontalLayout->addWidget(Logo);
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName("verticalLayout");
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(-1, -1, -1, 0);
    horizontalLayout_2 = new QHBoxLayout();
    horizontalLayout_2->setObjectName("horizontalLayout_2");
    horizontalLayout_2->setSpacing(6);
    label = new QLabel(HeaderFrame);
    label->setObjectName("label");
    label->setFont(boldFont(26));
    horizontalLayout_2->addWidget(label);
    icon = new QLabel(HeaderFrame);
    icon->setObjectName("icon");
    setPolicy(icon, QSizePolicy::Fixed, QSizePolicy::Preferred);
    icon->setMaximumSize(QSize(22, 22));
    icon->setScaledContents(true);
    horizontalLayout_2->addWidget(icon);
    verticalLayout->addLayout(horizontalLayout_2);
    itemStr = new QLabel(HeaderFrame);
    itemStr->setObjectName("itemStr");
    setPolicy(itemStr, QSizePolicy::Preferred, QSizePolicy::Fixed);
    itemStr->setMaximumSize(QSize(kNoLimit, 20));
    itemStr->setPalette(guiPalettes::itemLabel());
    itemStr->setFont(boldFont());
    itemStr->setLayoutDirection(Qt::LeftToRight);
    itemStr->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    verticalLayout->addWidget(itemStr);
    horizontalLayout->addLayout(verticalLayout);
    centralWidgetLayout->addWidget(HeaderFrame);

    // The body: plug-in column on the left, display area with its button row on the right.
    mainFrame = new QFrame(centralWidget);
    mainFrame->setObjectName("mainFrame");
    mainFrame->setPalette(guiPalettes::frame());
    mainFrame->setAutoFillBackground(true);
    mainFrame->setFrameShape(QFrame::Box);
    mainFrame->setFrameShadow(QFrame::Plain);
    horizontalLayout_3 = new QHBoxLayout(mainFrame);
    horizontalLayout_3->setObjectName("horizontalLayout_3");
    horizontalLayout_3->setSpacing(0);
    horizontalLayout_3->setContentsMargins(0, 0, 0, 0);

    pluginBrowserWidget = new QWidget(mainFrame);
    pluginBrowserWidget->setObjectName("pluginBrowserWidget");
    setPolicy(pluginBrowserWidget, QSizePolicy::Preferred, QSizePolicy::Preferred);
    // Exactly 200 pixels wide, whatever the window's width.
    pluginBrowserWidget->setMinimumSize(QSize(200, 0));
    pluginBrowserWidget->setMaximumSize(QSize(200, kNoLimit));
    pluginBrowserWidget->setPalette(guiPalettes::panel());
    pluginBrowserWidget->setAutoFillBackground(true);
    vl2 = new QVBoxLayout(pluginBrowserWidget);
    vl2->setObjectName("vl2");
    vl2->setSpacing(6);
    vl2->setContentsMargins(11, 11, 11, 11);
    pluginTree = new QTreeWidget(pluginBrowserWidget);
    pluginTree->setObjectName("pluginTree");
    setPolicy(pluginTree, QSizePolicy::Expanding, QSizePolicy::Expanding);
    pluginTree->setPalette(guiPalettes::tree());
    pluginTree->setFrameShape(QFrame::Box);
    pluginTree->setFrameShadow(QFrame::Plain);
    pluginTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pluginTree->setColumnCount(1);
    pluginTree->header()->setVisible(false);
    pluginTree->header()->setDefaultSectionSize(50);
    pluginTree->header()->setStretchLastSection(true);
    vl2->addWidget(pluginTree);
    pluginInfoBox = new QGroupBox(pluginBrowserWidget);
    pluginInfoBox->setObjectName("pluginInfoBox");
    setPolicy(pluginInfoBox, QSizePolicy::Preferred, QSizePolicy::Fixed);
    pluginInfoBox->setMinimumSize(QSize(0, 90));
    pluginInfoBox->setMaximumSize(QSize(kNoLimit, kNoLimit));
    pluginInfoBox->setFont(boldFont());
    pluginInfoBox->setFlat(false);
    infoBoxLayout = new QVBoxLayout(pluginInfoBox);
    infoBoxLayout->setObjectName("infoBoxLayout");
    infoBoxLayout->setSpacing(6);
    infoBoxLayout->setContentsMargins(-1, 5, 0, 5);
    vl2->addWidget(pluginInfoBox);
    horizontalLayout_3->addWidget(pluginBrowserWidget);

    mainFrameLayout = new QVBoxLayout();
    mainFrameLayout->setObjectName("mainFrameLayout");
    mainFrameLayout->setSpacing(2);
    mainFrameLayout->setContentsMargins(-1, -1, 4, 5);
    display = new QWidget(mainFrame);
    display->setObjectName("display");
    setPolicy(display, QSizePolicy::Expanding, QSizePolicy::Preferred);
    display->setPalette(guiPalettes::panel());
    display->setAutoFillBackground(true);
    displayLayout = new QVBoxLayout(display);
    displayLayout->setObjectName("displayLayout");
    displayLayout->setSpacing(6);
    displayLayout->setContentsMargins(0, 9, 5, 5);
    mainFrameLayout->addWidget(display);
    buttonWidget = new QWidget(mainFrame);
    buttonWidget->setObjectName("buttonWidget");
    setPolicy(buttonWidget, QSizePolicy::Preferred, QSizePolicy::Fixed);
    verticalLayout_2 = new QVBoxLayout(buttonWidget);
    verticalLayout_2->setObjectName("verticalLayout_2");
    verticalLayout_2->setSpacing(6);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    line = new QFrame(buttonWidget);
    line->setObjectName("line");
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    verticalLayout_2->addWidget(line);
    buttonBox = new QDialogButtonBox(buttonWidget);
    buttonBox->setObjectName("buttonBox");
    buttonBox->setPalette(guiPalettes::buttonBox());
    buttonBox->setAutoFillBackground(true);
    buttonBox->setStandardButtons(QDialogButtonBox::Save | QDialogButtonBox::Discard);
    verticalLayout_2->addWidget(buttonBox);
    mainFrameLayout->addWidget(buttonWidget);
    horizontalLayout_3->addLayout(mainFrameLayout);
    centralWidgetLayout->addWidget(mainFrame);

    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName("menuBar");
    menuBar->setGeometry(QRect(0, 0, 589, 22));
    window->setMenuBar(menuBar);
    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName("mainToolBar");
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);
    statusBar = new QStatusBar(window);
    statusBar->setObjectName("statusBar");
    window->setStatusBar(statusBar);

    retranslateUi(window);

    // None of the window's slots follows the by-name pattern; kept so that a future one would.
    QMetaObject::connectSlotsByName(window);
}

void Ui_cMainWindow::retranslateUi(QMainWindow* window)
{
    window->setWindowTitle(QCoreApplication::translate("cMainWindow", "Corvane - Tessmark"));
    Logo->setText(QString());
    label->setText(QCoreApplication::translate("cMainWindow", "Corvane"));
    icon->setText(QString());
    itemStr->setText(QString());
    pluginTree->headerItem()->setText(0, QCoreApplication::translate("cMainWindow", "Plugin"));
    pluginInfoBox->setTitle(QCoreApplication::translate("cMainWindow", "Information"));
}
