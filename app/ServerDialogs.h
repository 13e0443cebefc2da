// The server windows as thin views: Tf_serverconfig over TServerConfigState and TProcessesFrm
// over TProcessesState.
#pragma once

#include <QDialog>
#include <memory>

#include "app/ServerDialogStates.h"

class QComboBox;
class QTabBar;
class QTreeWidget;
class TQxListWidget;

// "Server Configuration": the parameters grouped by category or all in one list.
class Tf_serverconfig : public QDialog {
 public:
  explicit Tf_serverconfig(TQorixDatabase* db, QWidget* parent = nullptr);
  TServerConfigState& State() { return state_; }
  // Reads the configuration and shows it.
  void LoadConfiguration();
  // Shows the state's rows in its current view.
  void Fill();
  QTreeWidget* rv_config() const { return rv_config_; }
  QComboBox* ViewCombo() const { return view_; }

 private:
  void Print();
  TServerConfigState state_;
  QTreeWidget* rv_config_ = nullptr;
  QComboBox* view_ = nullptr;
};

// "Server Processes": eight tabs over one process view.
class TProcessesFrm : public QDialog {
 public:
  explicit TProcessesFrm(TQorixDatabase* db, QWidget* parent = nullptr);
  ~TProcessesFrm() override;
  TProcessesState& State() { return state_; }
  QTabBar* nb_processes() const { return tabs_; }
  TQxListWidget* pv() const { return list_; }
  // Runs the query of tab Index and shows it.
  void RefreshProcesses(int index);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TProcessesState state_;
  QTabBar* tabs_ = nullptr;
  TQxListWidget* list_ = nullptr;
  bool shown_ = false;
};
