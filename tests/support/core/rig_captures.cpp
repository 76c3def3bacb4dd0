// Renders a small calibration set for checks outside the test programs (the
// Windows stage): five board poses and a scene, each a folder of the 13
// captures of gray:7@1 phase:4x64@8 dark@12 light@13 at scan value 10000.
//
//   rig_captures DIR
#include "RigSupport.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: rig_captures DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const RigSets sets = rigSets();
    RigScene scene = rigScene(480, 384);
    const std::vector<RigObject> boards = eightBoardPoses();
    for (size_t p = 0; p < 5; ++p) {
        RigScene s = scene;
        s.objects = {boards[p]};
        s.look.seed = quint32(p + 3);
        writeRigCaptures(renderRig(s, sets.timing, sets.file.pages),
                         QString("%1/pose%2").arg(dir).arg(p + 1));
    }
    scene.objects = rigTestScene();
    writeRigCaptures(renderRig(scene, sets.timing, sets.file.pages), dir + "/scene");
    return 0;
}
