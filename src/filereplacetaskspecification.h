#pragma once

#include "composedtaskspecification.h"
#include "downloadreplacelists.h"
#include "rollback.h"

class Configuration;

// Builds one installed file from what the downloads left in the temporary
// directory (plain copy, package or patch), verifies it and puts it in place.
//
// No installed file is ever written directly. The new content is produced
// beside the target under the name target + ".ov3_new" and hash-checked
// there; then an existing target is renamed aside to target + ".ov3_old" and
// the new file is renamed onto the target. Each step is journalled (the new
// file as created, the two renames as renames), so undoing the journal newest
// first puts the previous file back under its name with its content and mode.
// The list task removes the ".ov3_old" files once every file was replaced.
class FileReplaceTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT
public:
    FileReplaceTaskSpecification(const ReplaceEntry &entry, RollbackDataList *parentRollback,
                                 Configuration *config, QObject *parent, qreal weight);

    void execute() override;
    void subtasksDone() override;
    void reset() override;

    // Gives mode 0777 to the program files and shared libraries of the client.
    void makeSingleFileExecutable(const QString &path);

    // Where the new content of installedPath is built.
    static QString stagingPath(const QString &installedPath);
    // Where the previous content of installedPath waits until the whole
    // replacement succeeded.
    static QString backupPath(const QString &installedPath);

    ReplaceEntry m_Entry;
    RollbackDataList *m_ParentRollback;
    RollbackDataList m_Rollback;
    Configuration *m_Config;

private:
    void makeSubtasksAndStart();
    QString installedRelativePath() const;
};
