import QtQuick
import QtTest
import qv4App

Item {
    id: root
    width: 640
    height: 400

    readonly property string urlA: "qrc:/icons/logo.svg"
    readonly property string urlB: "qrc:/icons/sbp.svg"
    readonly property string urlC: "qrc:/icons/terminal.svg"
    readonly property string urlD: "qrc:/icons/person.svg"
    readonly property string urlE: "qrc:/icons/close.svg"

    Component {
        id: slideshowComponent
        PromoImages {
            width: root.width
            height: root.height
            transitionDuration: 40
        }
    }

    SignalSpy {
        id: finishedSpy
        signalName: "finished"
    }

    TestCase {
        name: "PromoImages"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            finishedSpy.clear()
        }

        function entry(url, timeout) {
            return { url: url, timeout: timeout }
        }

        function parts(show) {
            return {
                main: findChild(show, "mainImage"),
                next: findChild(show, "nextImage"),
                timer: findChild(show, "slideTimer"),
                fade: findChild(show, "crossFade")
            }
        }

        function create(images) {
            const show = createTemporaryObject(slideshowComponent, root, { images: images })
            finishedSpy.target = parts(show).fade
            return show
        }

        // One cross-fade, driven by hand rather than by the timer.
        function crossFade(show) {
            const before = finishedSpy.count
            show.nextImage()
            tryCompare(finishedSpy, "count", before + 1)
        }

        function test_defaults() {
            const show = createTemporaryObject(slideshowComponent, root)
            compare(show.images.length, 0)
            compare(show.currentIndex, 0)
            compare(show.showInterval, 10000)
            const p = parts(show)
            compare(p.fade.animations.length, 2)
            for (let i = 0; i < 2; ++i) {
                compare(p.fade.animations[i].property, "opacity")
                compare(p.fade.animations[i].easing.type, Easing.InOutQuad)
            }
            compare(p.fade.animations[0].target, p.main)
            compare(p.fade.animations[0].from, 1)
            compare(p.fade.animations[0].to, 0)
            compare(p.fade.animations[1].target, p.next)
            compare(p.fade.animations[1].from, 0)
            compare(p.fade.animations[1].to, 1)
            show.transitionDuration = 500
            compare(p.fade.animations[0].duration, 500)
            compare(p.main.fillMode, Image.PreserveAspectCrop, "cropped, never letterboxed")
            compare(p.next.fillMode, Image.PreserveAspectCrop)
            compare(p.main.width, root.width)
            compare(p.main.height, root.height)
        }

        function test_noEntries() {
            const show = create([])
            const p = parts(show)
            compare(String(p.main.source), "")
            compare(String(p.next.source), "")
            verify(!p.timer.running)
            show.nextImage()
            verify(!p.fade.running)
        }

        // AppEnv's value before the schedule first publishes.
        function test_initialValueShowsNothing() {
            const show = create([[]])
            const p = parts(show)
            compare(String(p.main.source), "")
            compare(String(p.next.source), "")
            compare(show.showInterval, 10000, "no timeout: the default, not 0")
            verify(p.timer.running)
            show.showInterval = 30
            wait(120)
            verify(!p.fade.running, "each trigger does nothing")
            compare(finishedSpy.count, 0)
        }

        function test_oneEntry() {
            const show = create([entry(root.urlA, 5)])
            const p = parts(show)
            compare(String(p.main.source), root.urlA)
            compare(String(p.next.source), "")
            compare(show.showInterval, 5000)
            verify(p.timer.running)
            show.showInterval = 30
            wait(150)
            compare(finishedSpy.count, 0, "a single entry never fades")
            compare(p.main.opacity, 1)
        }

        function test_orderWithTheTimer() {
            const show = create([entry(root.urlA, 0.12), entry(root.urlB, 0.12), entry(root.urlC, 0.12)])
            const p = parts(show)
            compare(String(p.main.source), root.urlA)
            compare(String(p.next.source), root.urlB)
            compare(show.showInterval, 120)
            const shown = [String(p.main.source)]
            const statusAtStart = []
            p.fade.started.connect(() => statusAtStart.push(p.next.status))
            for (let i = 1; i <= 3; ++i) {
                tryCompare(finishedSpy, "count", i, 3000)
                shown.push(String(p.main.source))
                compare(p.main.opacity, 1)
                compare(p.next.opacity, 0)
                compare(String(p.next.source), [root.urlA, root.urlB, root.urlC][(i + 1) % 3],
                        "the entry after it waits behind")
            }
            compare(shown, [root.urlA, root.urlB, root.urlC, root.urlA])
            compare(statusAtStart, [Image.Ready, Image.Ready, Image.Ready], "each fade onto a decoded picture")
            compare(show.currentIndex, 0)
        }

        function test_ownInterval() {
            const show = create([entry(root.urlA, 3), entry(root.urlB, 7)])
            compare(show.showInterval, 3000, "A's own timeout, not that of B behind it")
            compare(parts(show).timer.interval, 3000)
            crossFade(show)
            compare(String(parts(show).main.source), root.urlB)
            compare(show.showInterval, 7000)
        }

        // Sampled as the customer sees it: A (0.2 s) must go by faster than B (1.2 s),
        // with room for a busy machine's late timers and decoding.
        function test_eachPictureStaysForItsOwnTimeout() {
            const show = create([entry(root.urlA, 0.2), entry(root.urlB, 1.2)])
            const shownAt = []
            finishedSpy.clear()
            for (let i = 1; i <= 4; ++i) {
                tryCompare(finishedSpy, "count", i, 5000)
                shownAt.push({ url: String(parts(show).main.source), at: Date.now() })
            }
            // shownAt: B, A, B, A. B stays from [0] to [1], A from [1] to [2].
            compare(shownAt[0].url, root.urlB)
            const stayB = shownAt[1].at - shownAt[0].at
            const stayA = shownAt[2].at - shownAt[1].at
            verify(stayB > 2 * stayA, "B " + stayB + " ms, A " + stayA + " ms")
        }

        function test_getImageUrl_data() {
            return [
                { tag: "timeout", entry: { url: root.urlA, timeout: 4 }, url: root.urlA, interval: 4000 },
                { tag: "zero timeout", entry: { url: root.urlA, timeout: 0 }, url: root.urlA, interval: 10000 },
                { tag: "missing timeout", entry: { url: root.urlA }, url: root.urlA, interval: 10000 },
                { tag: "negative timeout", entry: { url: root.urlA, timeout: -3 }, url: root.urlA, interval: 10000 },
                { tag: "string timeout", entry: { url: root.urlA, timeout: "x" }, url: root.urlA, interval: 10000 },
                { tag: "huge timeout", entry: { url: root.urlA, timeout: 1e12 }, url: root.urlA, interval: 2147483647 },
                { tag: "missing url", entry: { timeout: 2 }, url: "", interval: 2000 },
                { tag: "empty url", entry: { url: "", timeout: 2 }, url: "", interval: 2000 },
                { tag: "null entry", entry: null, url: "", interval: 10000 },
                { tag: "number entry", entry: 5, url: "", interval: 10000 }
            ]
        }

        function test_getImageUrl(data) {
            const show = create([])
            compare(show.getImageUrl(0), "", "nothing to resolve")
            show.showInterval = 1
            compare(show.getImageUrl(0), "")
            compare(show.showInterval, 1, "left alone while empty")
            show.images = [data.entry, { url: root.urlB, timeout: 1 }]
            compare(show.getImageUrl(0), data.url)
            compare(show.showInterval, data.interval)
            compare(show.getImageUrl(7), root.urlB, "an index past the end wraps")
        }

        // Never a blank turn: an entry with nothing to show is passed over.
        function test_entryWithoutPictureIsPassedOver() {
            const show = create([entry(root.urlA, 1), { timeout: 1 }, entry(root.urlC, 1)])
            crossFade(show)
            compare(String(parts(show).main.source), root.urlC)
            crossFade(show)
            compare(String(parts(show).main.source), root.urlA)

            const alone = create([entry(root.urlB, 1), { timeout: 1 }])
            alone.nextImage()
            verify(!parts(alone).fade.running, "nothing to fade to: the picture stays")
            compare(String(parts(alone).main.source), root.urlB)
            compare(parts(alone).main.opacity, 1)
        }

        function test_newListBeforeTheFirstCrossFade() {
            const show = create([entry(root.urlA, 1), entry(root.urlB, 1)])
            show.images = [entry(root.urlC, 2), entry(root.urlD, 3)]
            compare(String(parts(show).main.source), root.urlC, "takes effect at once")
            compare(String(parts(show).next.source), root.urlD)
            compare(show.showInterval, 2000)
        }

        function test_newListAfterACrossFade() {
            const show = create([entry(root.urlA, 1), entry(root.urlB, 1), entry(root.urlC, 1)])
            crossFade(show)
            show.images = [entry(root.urlD, 1), entry(root.urlE, 1), entry(root.urlA, 1)]
            compare(String(parts(show).main.source), root.urlB, "waits for the next cross-fade")
            crossFade(show)
            compare(show.currentIndex, 2)
            compare(String(parts(show).main.source), root.urlA)
            compare(String(parts(show).next.source), root.urlD)
        }

        // The terminal went away: the pictures go with it.
        function test_emptiedAfterACrossFade() {
            const show = create([entry(root.urlA, 1), entry(root.urlB, 1)])
            crossFade(show)
            compare(String(parts(show).main.source), root.urlB)
            show.images = []
            const p = parts(show)
            compare(String(p.main.source), "")
            compare(String(p.next.source), "")
            verify(!p.timer.running)
            compare(show.currentIndex, 0)

            show.images = [entry(root.urlC, 1), entry(root.urlD, 1)]
            compare(String(p.main.source), root.urlC, "a later list shows from its start")
            compare(String(p.next.source), root.urlD)
            compare(p.main.opacity, 1)
        }

        function test_emptiedDuringACrossFade() {
            const show = create([entry(root.urlA, 1), entry(root.urlB, 1)])
            show.transitionDuration = 400
            const p = parts(show)
            show.nextImage()
            // The fade starts once the next picture is decoded, which a slow machine may still be doing.
            tryVerify(() => p.fade.running)
            show.images = []
            verify(!p.fade.running)
            compare(String(p.main.source), "")
            compare(String(p.next.source), "")
            compare(p.main.opacity, 1)
            compare(p.next.opacity, 0)
            wait(450)
            compare(finishedSpy.count, 0)
            compare(String(p.main.source), "")
        }

        function test_shrinksBelowTheCurrentIndex() {
            const show = create([entry(root.urlA, 1), entry(root.urlB, 1), entry(root.urlC, 1)])
            crossFade(show)
            crossFade(show)
            compare(show.currentIndex, 2)
            show.images = [entry(root.urlD, 1), entry(root.urlE, 1)]
            verify(show.currentIndex < 2, "a valid index")
            crossFade(show)
            compare(String(parts(show).main.source), root.urlD, "goes on with the first entry")
            compare(String(parts(show).next.source), root.urlE)
            crossFade(show)
            compare(String(parts(show).main.source), root.urlE)
        }

        function test_shrinksToOneAfterACrossFade() {
            const show = create([entry(root.urlA, 1), entry(root.urlB, 1)])
            crossFade(show)
            compare(String(parts(show).main.source), root.urlB)
            show.images = [entry(root.urlC, 4)]
            compare(show.currentIndex, 0)
            compare(String(parts(show).main.source), root.urlC, "no cross-fade will come to replace it")
            compare(String(parts(show).next.source), "")
            compare(show.showInterval, 4000)
        }

        function test_shrinksDuringACrossFade() {
            const show = create([entry(root.urlA, 1), entry(root.urlB, 1), entry(root.urlC, 1)])
            crossFade(show)
            show.transitionDuration = 150
            show.nextImage()
            tryVerify(() => parts(show).fade.running, 5000, "the fade waits for the next picture's decoding")
            show.images = [entry(root.urlD, 1)]
            tryCompare(finishedSpy, "count", 2)
            compare(show.currentIndex, 0)
            compare(String(parts(show).main.source), root.urlD)
        }
    }
}
