// The Olvik board's kernel side on the real-kernel board (scripts/vm):
// - lays the NAND out as the board's boot loader does: the partitions of the
//   PIT the flash holds (sizes from an adaptive PIT that lists the same
//   partitions), else the board file's (the same rule as vboard's boot
//   layout), added to nandsim's chip as mtd1, mtd2, ...;
// - the MTD character device with the board driver's nocpt request: the
//   kernel's own mtdchar operations, one request more;
// - /dev/bsp (the reboot request) and /dev/i2c with the RGB LED controller.
// /proc/olvik_board shows the layout's source, the LEDs, the reboot and
// nocpt counts.
#include <linux/cdev.h>
#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mtd/mtd.h>
#include <linux/mtd/partitions.h>
#include <linux/pid.h>
#include <linux/proc_fs.h>
#include <linux/sched/signal.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/uaccess.h>
#include <linux/workqueue.h>
#include <asm/unaligned.h>

#define MAX_PARTS 64
#define NAME_BYTES 16
#define TABLE_BYTES (16 * 1024)
#define ADAPTIVE_AT (1u << 20)
#define PIT_HEAD 0x8530EADCu
#define PIT_TAIL 0xC0CAC01Au
#define ADAPTIVE_HEAD 0x8530AAAAu
#define ADAPTIVE_TAIL 0x5441494Cu
#define SIGN_WORDS 8
#define SLOT 32
#define RECORD_BYTES 40

#define NOCPT_REQUEST 0xC0044D14u
#define BSP_REBOOT 0x6208u
#define I2C_WRITE 0x40047301u
#define I2C_SETUP 0x40047316u
#define I2C_RECORD_BYTES 36
#define LED_ADDRESS 0x54
#define LED_UPDATE_REG 0x16
#define LED_FIRST_REG 0x0F
#define LEDS 5
#define MTD_MINORS 130 /* /dev/mtd0 to /dev/mtd64 and their read-only twins */

static char *parts;
module_param(parts, charp, 0444);
MODULE_PARM_DESC(parts, "the board file's partitions: name:offset:size,...");
static char *nand_name;
module_param(nand_name, charp, 0444);
MODULE_PARM_DESC(nand_name, "name of mtd0");

struct entry {
	char name[NAME_BYTES + 1];
	u32 id;
	u64 offset, size;
};

struct table {
	int count;
	struct entry e[MAX_PARTS];
};

static struct table board_parts, layout;
static const char *layout_source = "board file";
static struct mtd_info *chip;

static u32 word(const u8 *b, size_t at)
{
	return get_unaligned_le32(b + at);
}

static bool words_are(const u8 *b, size_t len, size_t at, size_t count, u32 value)
{
	size_t i;

	for (i = 0; i < count; i++)
		if (at + 4 * i + 4 > len || word(b, at + 4 * i) != value)
			return false;
	return true;
}

// The NUL-padded name, "" when it is no name the kernel could show.
static void entry_at(const u8 *b, size_t at, struct entry *e)
{
	size_t i;

	memcpy(e->name, b + at, NAME_BYTES);
	e->name[NAME_BYTES] = 0;
	for (i = 0; e->name[i]; i++)
		if (e->name[i] <= ' ' || e->name[i] > '~' || e->name[i] == '"')
			e->name[0] = 0;
	e->id = word(b, at + 16);
	e->offset = word(b, at + 24);
	e->size = word(b, at + 28);
}

static int entry_fault(const struct entry *e, int k, char *why, size_t room)
{
	if (!e->name[0])
		return snprintf(why, room, "entry %d has no name", k);
	if (e->id != k + 1)
		return snprintf(why, room, "entry %d (%s) has id %u", k, e->name, e->id);
	if (e->size == 0 || (e->offset | e->size) & (chip->erasesize - 1) ||
	    e->offset + e->size > chip->size)
		return snprintf(why, room, "entry %d (%s) is no run of whole erase blocks on the NAND", k, e->name);
	return 0;
}

// Entries of the 32-byte layout: head, entries up to a tail slot or a free
// entry (an adaptive PIT of this layout carries the PIT's tail slot as its
// last entry).
static int entries_32(const u8 *b, size_t len, u32 tail, struct table *t, char *why, size_t room)
{
	size_t at;

	for (at = SLOT; at + SLOT <= len; at += SLOT) {
		if (words_are(b, len, at, SIGN_WORDS, tail))
			return 0;
		if (t->count == MAX_PARTS)
			return snprintf(why, room, "more than %d entries", MAX_PARTS);
		if (word(b, at + 16) == U32_MAX || word(b, at + 16) == PIT_TAIL)
			return 0;
		entry_at(b, at, &t->e[t->count++]);
	}
	return snprintf(why, room, "no tail");
}

// Entries of the header layout: word 3 the first entry's offset, word 4
// the stride, word 5 the count.
static int entries_header(const u8 *b, size_t len, struct table *t, char *why, size_t room)
{
	u64 first = word(b, 12), stride = word(b, 16), count = word(b, 20), k;

	if (first < RECORD_BYTES || stride < RECORD_BYTES || count > MAX_PARTS ||
	    (count > 0 && first + (count - 1) * stride + RECORD_BYTES > len))
		return snprintf(why, room, "bad header (first entry %llu, stride %llu, count %llu)", first, stride, count);
	for (k = 0; k < count; k++)
		entry_at(b, first + k * stride, &t->e[t->count++]);
	return 0;
}

// A PIT or adaptive PIT in either layout: 0, or what is wrong in why.
static int parse_table(const u8 *b, size_t len, u32 head, u32 tail, struct table *t, char *why, size_t room)
{
	char fault[96] = "";
	int k;

	t->count = 0;
	if (words_are(b, len, 0, SIGN_WORDS, head))
		entries_32(b, len, tail, t, fault, sizeof(fault));
	else if (words_are(b, len, 0, 2, head))
		entries_header(b, len, t, fault, sizeof(fault));
	else
		return snprintf(why, room, "none");
	if (!fault[0] && t->count == 0)
		snprintf(fault, sizeof(fault), "no entries");
	for (k = 0; !fault[0] && k < t->count; k++)
		entry_fault(&t->e[k], k, fault, sizeof(fault));
	return fault[0] ? snprintf(why, room, "damaged: %s", fault) : 0;
}

static const struct entry *place_of(const char *name)
{
	int k;

	for (k = 0; k < board_parts.count; k++)
		if (!strcmp(board_parts.e[k].name, name))
			return &board_parts.e[k];
	return NULL;
}

// Up to TABLE_BYTES at offset; 0 bytes when the flash cannot be read there.
static size_t read_place(u8 *b, u64 offset, u64 room)
{
	size_t len = min_t(u64, room, TABLE_BYTES), got = 0;
	int rc = mtd_read(chip, offset, len, &got, b);

	return (rc && rc != -EUCLEAN) || got != len ? 0 : len;
}

static bool same_partitions(const struct table *a, const struct table *b)
{
	int k;

	if (a->count != b->count)
		return false;
	for (k = 0; k < a->count; k++)
		if (strcmp(a->e[k].name, b->e[k].name) || a->e[k].id != b->e[k].id)
			return false;
	return true;
}

// The table found at the first of places that holds a valid one (and, for
// an adaptive PIT, lists the partitions of pit), or NULL.
static const char *find_table(u8 *b, const char *const *places, int n, u64 at, u32 head, u32 tail,
			      const struct table *pit, struct table *t)
{
	char why[128];
	int i;

	for (i = 0; i < n; i++) {
		const struct entry *p = place_of(places[i]);

		if (!p || p->size <= at)
			continue;
		if (parse_table(b, read_place(b, p->offset + at, p->size - at), head, tail, t, why, sizeof(why)) == 0) {
			if (!pit || same_partitions(t, pit))
				return places[i];
			snprintf(why, sizeof(why), "lists other partitions than the PIT");
		}
		pr_info("olvik_board: layout: %s in %s: %s\n", pit ? "adaptive PIT" : "PIT", places[i], why);
	}
	t->count = 0;
	return NULL;
}

static void decide_layout(u8 *b)
{
	static const char *const pit_places[] = {"part_info", "part_info_1", "part_info_2"};
	static char source[64];
	static struct table pit, adaptive;
	const char *pit_at, *adaptive_at = NULL;

	pit_at = find_table(b, pit_places, 3, 0, PIT_HEAD, PIT_TAIL, NULL, &pit);
	if (pit_at)
		adaptive_at = find_table(b, pit_places + 1, 2, max_t(u64, ADAPTIVE_AT, chip->erasesize), ADAPTIVE_HEAD,
					 ADAPTIVE_TAIL, &pit, &adaptive);
	if (!pit_at) {
		layout = board_parts;
		return;
	}
	layout = adaptive_at ? adaptive : pit;
	snprintf(source, sizeof(source), "%s PIT%s", pit_at, adaptive_at ? " + adaptive PIT" : "");
	layout_source = source;
}

// "name:offset:size,..." into board_parts.
static int parse_board_parts(void)
{
	char *rest = parts, *item;

	while (rest && (item = strsep(&rest, ",")) && *item) {
		struct entry *e = &board_parts.e[board_parts.count];
		char *name = strsep(&item, ":"), *offset = strsep(&item, ":");

		if (board_parts.count == MAX_PARTS || !item || strscpy(e->name, name, sizeof(e->name)) < 0 ||
		    kstrtoull(offset, 0, &e->offset) || kstrtoull(item, 0, &e->size))
			return -EINVAL;
		e->id = ++board_parts.count;
	}
	return 0;
}

static int add_partitions(void)
{
	int k, rc;

	for (k = 0; k < layout.count; k++) {
		rc = mtd_add_partition(chip, layout.e[k].name, layout.e[k].offset, layout.e[k].size);
		if (rc) {
			pr_err("olvik_board: partition %s: %d\n", layout.e[k].name, rc);
			return rc;
		}
	}
	return 0;
}

static int layout_nand(void)
{
	struct mtd_info *mtd0 = get_mtd_device(NULL, 0);
	u8 *b;
	int rc;

	if (IS_ERR(mtd0))
		return PTR_ERR(mtd0);
	chip = mtd_get_master(mtd0);
	if (nand_name && *nand_name)
		mtd0->name = kstrdup(nand_name, GFP_KERNEL);
	rc = parse_board_parts();
	b = kmalloc(TABLE_BYTES, GFP_KERNEL);
	if (!rc && !b)
		rc = -ENOMEM;
	if (!rc) {
		decide_layout(b);
		pr_info("olvik_board: layout from: %s\n", layout_source);
		rc = add_partitions();
	}
	kfree(b);
	return rc;
}

// The MTD character device: the kernel's own, with the nocpt request.
static const struct file_operations *mtdchar_fops;
static struct file_operations board_mtd_fops;
static struct cdev board_mtd_cdev;
static dev_t board_mtd_dev;
static atomic_t nocpt_set, nocpt_clear;

static long board_mtd_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	if (cmd != NOCPT_REQUEST)
		return mtdchar_fops->unlocked_ioctl(file, cmd, arg);
	atomic_inc(arg & 1 ? &nocpt_set : &nocpt_clear);
	return 0;
}

static int wrap_mtdchar(void)
{
	struct file *f = filp_open("/dev/mtd0", O_RDONLY, 0);
	int rc;

	if (IS_ERR(f))
		return PTR_ERR(f);
	mtdchar_fops = f->f_op;
	filp_close(f, NULL);
	board_mtd_fops = *mtdchar_fops;
	board_mtd_fops.owner = THIS_MODULE;
	board_mtd_fops.unlocked_ioctl = board_mtd_ioctl;
	rc = alloc_chrdev_region(&board_mtd_dev, 0, MTD_MINORS, "olvik_mtd");
	if (rc)
		return rc;
	cdev_init(&board_mtd_cdev, &board_mtd_fops);
	return cdev_add(&board_mtd_cdev, board_mtd_dev, MTD_MINORS);
}

// /dev/bsp: the reboot request tells init (it saves the flash and restarts
// the kernel) 100 ms later, as the board's reset comes a moment after the
// request.
static atomic_t reboots;

static void reboot_board(struct work_struct *work)
{
	struct pid *init = find_get_pid(1);

	kill_pid(init, SIGUSR1, 1);
	put_pid(init);
}
static DECLARE_DELAYED_WORK(reboot_work, reboot_board);

static long bsp_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	if (cmd != BSP_REBOOT)
		return -ENOTTY;
	pr_info("olvik_board: reboot requested by %s\n", current->comm);
	atomic_inc(&reboots);
	schedule_delayed_work(&reboot_work, msecs_to_jiffies(100));
	return 0;
}

static const struct file_operations bsp_fops = {.owner = THIS_MODULE, .unlocked_ioctl = bsp_ioctl};
static struct miscdevice bsp_device = {.minor = MISC_DYNAMIC_MINOR, .name = "bsp", .fops = &bsp_fops};

// /dev/i2c with the LED controller: 15 channels at registers 0x0F down to
// 0x01, applied to LEDs 0-4 (red, green, blue) by a write of 0 to 0x16.
static DEFINE_MUTEX(i2c_lock);
static u8 i2c_regs[256];
static u32 leds[LEDS];
static bool leds_set;

static void apply_leds(void)
{
	int n;

	for (n = 0; n < LEDS; n++)
		leds[n] = i2c_regs[LED_FIRST_REG - 3 * n] << 16 | i2c_regs[LED_FIRST_REG - 3 * n - 1] << 8 |
			  i2c_regs[LED_FIRST_REG - 3 * n - 2];
	leds_set = true;
}

static long i2c_write(unsigned long arg)
{
	u8 record[I2C_RECORD_BYTES], value;
	u16 reg;

	if (copy_from_user(record, (void __user *)arg, sizeof(record)))
		return -EFAULT;
	reg = get_unaligned_le16(record + 2);
	if (record[0] != LED_ADDRESS)
		return -ENXIO;
	if (record[4] != 1 || reg > 0xff)
		return -EINVAL;
	if (copy_from_user(&value, (void __user *)(uintptr_t)word(record, 8), 1))
		return -EFAULT;
	mutex_lock(&i2c_lock);
	i2c_regs[reg] = value;
	if (reg == LED_UPDATE_REG && value == 0)
		apply_leds();
	mutex_unlock(&i2c_lock);
	return 0;
}

static long i2c_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	if (cmd == I2C_SETUP)
		return 0;
	return cmd == I2C_WRITE ? i2c_write(arg) : -ENOTTY;
}

static const struct file_operations i2c_fops = {.owner = THIS_MODULE, .unlocked_ioctl = i2c_ioctl};
static struct miscdevice i2c_device = {.minor = MISC_DYNAMIC_MINOR, .name = "i2c", .fops = &i2c_fops};

static int board_show(struct seq_file *m, void *v)
{
	int n;

	seq_printf(m, "layout from: %s\nmtd major %u\nreboot %d\nnocpt set %d clear %d\nleds",
		   layout_source, MAJOR(board_mtd_dev), atomic_read(&reboots), atomic_read(&nocpt_set),
		   atomic_read(&nocpt_clear));
	mutex_lock(&i2c_lock);
	for (n = 0; n < LEDS; n++)
		if (leds_set)
			seq_printf(m, " %06x", leds[n]);
	mutex_unlock(&i2c_lock);
	seq_puts(m, leds_set ? "\n" : " never set\n");
	return 0;
}

static int __init board_init(void)
{
	int rc = layout_nand();

	if (!rc)
		rc = wrap_mtdchar();
	if (!rc)
		rc = misc_register(&bsp_device);
	if (!rc)
		rc = misc_register(&i2c_device);
	if (!rc && !proc_create_single("olvik_board", 0444, NULL, board_show))
		rc = -ENOMEM;
	return rc;
}
module_init(board_init);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Olvik board: NAND layout from the PIT, nocpt, reboot, LED controller");
