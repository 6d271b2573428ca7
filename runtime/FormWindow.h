#pragma once

#include <QMainWindow>

namespace runtime {

class Form;

class FormWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit FormWindow(Form& form);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Form& m_form;
};

} // namespace runtime
